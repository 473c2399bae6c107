/* pwscan.sys: a removable drive whose every I/O control is answered by the
 * scanner simulator on the Linux side. Loaded by Wine's driver host; used by
 * the win32 build's tests so that the real GetLogicalDrives, GetDriveTypeA,
 * CreateFileA and DeviceIoControl reach a scanner.
 *
 * The service key holds two values: "Drive" (the letter, REG_SZ) and
 * "FifoDir" (the simulator's FIFO folder as an NT path, such as
 * \??\Z:\tmp\world\fifo). Each I/O control becomes one request on the FIFOs
 * (ScannerWire.h); a missing or dead simulator, a reply that does not come in
 * time and a malformed reply all fail the I/O control, never the caller.
 */
#include <ntifs.h>

#include "ScannerWire.h"

#define PW_POOL_TAG 0x63735750u /* "PWsc" */

typedef struct {
  KMUTEX lock; /* one exchange at a time on the FIFOs */
  HANDLE request;
  HANDLE reply;
  HANDLE replyEvent;
  ULONG sequence;
  UNICODE_STRING requestPath;
  UNICODE_STRING replyPath;
  UNICODE_STRING linkName;
  KEVENT stop;
  PVOID linkThread;
} PW_DEVICE;

static WCHAR g_deviceName[] = L"\\Device\\PagewickScanner";
static WCHAR g_linkBuffer[] = L"\\DosDevices\\X:";

static NTSTATUS AllocateString(UNICODE_STRING* out, const WCHAR* first, USHORT firstBytes, const WCHAR* second,
                               USHORT secondBytes) {
  USHORT total = (USHORT)(firstBytes + secondBytes);
  out->Buffer = (PWCH)ExAllocatePoolWithTag(NonPagedPool, total + sizeof(WCHAR), PW_POOL_TAG);
  if (!out->Buffer) return STATUS_INSUFFICIENT_RESOURCES;
  RtlCopyMemory(out->Buffer, first, firstBytes);
  RtlCopyMemory((PUCHAR)out->Buffer + firstBytes, second, secondBytes);
  out->Buffer[total / sizeof(WCHAR)] = 0;
  out->Length = total;
  out->MaximumLength = (USHORT)(total + sizeof(WCHAR));
  return STATUS_SUCCESS;
}

/* A REG_SZ value of the service key, without its terminating zero. */
static NTSTATUS ReadText(PUNICODE_STRING keyPath, const WCHAR* name, WCHAR* text, ULONG capacity, ULONG* bytes) {
  OBJECT_ATTRIBUTES attributes;
  UNICODE_STRING valueName;
  HANDLE key;
  UCHAR buffer[sizeof(KEY_VALUE_PARTIAL_INFORMATION) + 1024];
  KEY_VALUE_PARTIAL_INFORMATION* info = (KEY_VALUE_PARTIAL_INFORMATION*)buffer;
  ULONG returned = 0;
  ULONG length;
  NTSTATUS status;

  InitializeObjectAttributes(&attributes, keyPath, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
  status = ZwOpenKey(&key, KEY_READ, &attributes);
  if (!NT_SUCCESS(status)) return status;
  RtlInitUnicodeString(&valueName, name);
  status = ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, buffer, sizeof buffer, &returned);
  ZwClose(key);
  if (!NT_SUCCESS(status)) return status;
  if (info->Type != REG_SZ) return STATUS_OBJECT_TYPE_MISMATCH;
  length = info->DataLength;
  while (length >= sizeof(WCHAR) && ((WCHAR*)info->Data)[length / sizeof(WCHAR) - 1] == 0) length -= sizeof(WCHAR);
  if (length == 0 || length > capacity) return STATUS_INVALID_PARAMETER;
  RtlCopyMemory(text, info->Data, length);
  *bytes = length;
  return STATUS_SUCCESS;
}

static void CloseFifos(PW_DEVICE* device) {
  if (device->request) ZwClose(device->request);
  if (device->reply) ZwClose(device->reply);
  device->request = NULL;
  device->reply = NULL;
}

static NTSTATUS OpenFifo(UNICODE_STRING* path, ACCESS_MASK access, ULONG options, HANDLE* handle) {
  OBJECT_ATTRIBUTES attributes;
  IO_STATUS_BLOCK io;
  InitializeObjectAttributes(&attributes, path, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
  return ZwCreateFile(handle, access, &attributes, &io, NULL, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, FILE_OPEN,
                      options | FILE_NON_DIRECTORY_FILE, NULL, 0);
}

static NTSTATUS OpenFifos(PW_DEVICE* device) {
  NTSTATUS status;
  if (device->request && device->reply) return STATUS_SUCCESS;
  CloseFifos(device);
  status = OpenFifo(&device->requestPath, GENERIC_WRITE | SYNCHRONIZE, FILE_SYNCHRONOUS_IO_NONALERT, &device->request);
  /* The reply FIFO is read asynchronously, so that a reply that never comes
   * ends in a time-out instead of a wait without end. */
  if (NT_SUCCESS(status)) status = OpenFifo(&device->replyPath, GENERIC_READ, 0, &device->reply);
  if (!NT_SUCCESS(status)) {
    device->request = NULL;
    device->reply = NULL;
    CloseFifos(device);
  }
  return status;
}

static NTSTATUS WriteAll(HANDLE handle, const UCHAR* bytes, ULONG length) {
  while (length > 0) {
    IO_STATUS_BLOCK io;
    NTSTATUS status = ZwWriteFile(handle, NULL, NULL, NULL, &io, (PVOID)bytes, length, NULL, NULL);
    if (!NT_SUCCESS(status) || io.Information == 0 || io.Information > length) return STATUS_DEVICE_NOT_CONNECTED;
    bytes += io.Information;
    length -= (ULONG)io.Information;
  }
  return STATUS_SUCCESS;
}

/* Reads exactly length bytes from the reply FIFO before the deadline (a
 * system time in 100 ns units). */
static NTSTATUS ReadAll(PW_DEVICE* device, UCHAR* bytes, ULONG length, LONGLONG deadline) {
  while (length > 0) {
    IO_STATUS_BLOCK io;
    LARGE_INTEGER offset;
    LARGE_INTEGER now;
    LARGE_INTEGER wait;
    NTSTATUS status;
    offset.QuadPart = 0;
    io.Status = STATUS_PENDING;
    io.Information = 0;
    ZwClearEvent(device->replyEvent);
    status = ZwReadFile(device->reply, device->replyEvent, NULL, NULL, &io, bytes, length, &offset, NULL);
    if (status == STATUS_PENDING) {
      KeQuerySystemTime(&now);
      wait.QuadPart = now.QuadPart >= deadline ? 0 : now.QuadPart - deadline; /* relative, negative */
      status = ZwWaitForSingleObject(device->replyEvent, FALSE, &wait);
      if (status != STATUS_SUCCESS) {
        IO_STATUS_BLOCK cancel;
        ZwCancelIoFile(device->reply, &cancel);
        wait.QuadPart = -10000000LL; /* the cancel completes the read at once */
        ZwWaitForSingleObject(device->replyEvent, FALSE, &wait);
        return STATUS_IO_TIMEOUT;
      }
      status = io.Status;
    }
    if (!NT_SUCCESS(status) || io.Information == 0 || io.Information > length) return STATUS_DEVICE_NOT_CONNECTED;
    bytes += io.Information;
    length -= (ULONG)io.Information;
  }
  return STATUS_SUCCESS;
}

/* Throws away length bytes of a reply that cannot be delivered. */
static NTSTATUS Drain(PW_DEVICE* device, ULONG length, LONGLONG deadline) {
  UCHAR scrap[512];
  while (length > 0) {
    ULONG part = length < sizeof scrap ? length : (ULONG)sizeof scrap;
    NTSTATUS status = ReadAll(device, scrap, part, deadline);
    if (!NT_SUCCESS(status)) return status;
    length -= part;
  }
  return STATUS_SUCCESS;
}

/* One request and its reply. On success *count bytes of the reply are in
 * buffer (at most outputLength). */
static NTSTATUS Exchange(PW_DEVICE* device, ULONG code, UCHAR* buffer, ULONG inputLength, ULONG outputLength,
                         ULONG* count) {
  UCHAR header[PW_WIRE_REQUEST_HEADER_SIZE];
  UCHAR reply[PW_WIRE_REPLY_HEADER_SIZE];
  LARGE_INTEGER now;
  LONGLONG deadline;
  ULONG sequence;
  ULONG replyStatus;
  ULONG replyCount;
  NTSTATUS status;

  *count = 0;
  status = OpenFifos(device);
  if (!NT_SUCCESS(status)) return STATUS_DEVICE_NOT_CONNECTED;

  sequence = ++device->sequence;
  PwWirePut(header, PW_WIRE_REQUEST_MAGIC_AT, PW_WIRE_REQUEST_MAGIC);
  PwWirePut(header, PW_WIRE_REQUEST_SEQUENCE_AT, sequence);
  PwWirePut(header, PW_WIRE_REQUEST_CODE_AT, code);
  PwWirePut(header, PW_WIRE_REQUEST_INPUT_AT, inputLength);
  PwWirePut(header, PW_WIRE_REQUEST_CAPACITY_AT, outputLength);
  status = WriteAll(device->request, header, sizeof header);
  if (NT_SUCCESS(status) && inputLength > 0) status = WriteAll(device->request, buffer, inputLength);

  KeQuerySystemTime(&now);
  deadline = now.QuadPart + (LONGLONG)PW_WIRE_REPLY_TIMEOUT_MS * 10000;
  if (!NT_SUCCESS(status)) goto broken;
  for (;;) {
    ULONG replySequence;
    status = ReadAll(device, reply, sizeof reply, deadline);
    if (!NT_SUCCESS(status)) goto broken;
    replyStatus = PwWireGet(reply, PW_WIRE_REPLY_STATUS_AT);
    replyCount = PwWireGet(reply, PW_WIRE_REPLY_COUNT_AT);
    replySequence = PwWireGet(reply, PW_WIRE_REPLY_SEQUENCE_AT);
    if (PwWireGet(reply, PW_WIRE_REPLY_MAGIC_AT) != PW_WIRE_REPLY_MAGIC || replyCount > PW_WIRE_MAX_PAYLOAD) {
      status = STATUS_DEVICE_PROTOCOL_ERROR;
      goto broken;
    }
    if (replySequence == sequence) break;
    /* Another request's reply: its bytes go, so that the stream stays in
     * step. A late reply to an earlier request (which timed out) is skipped;
     * anything else fails this request. */
    status = Drain(device, replyCount, deadline);
    if (!NT_SUCCESS(status)) goto broken;
    if ((LONG)(sequence - replySequence) <= 0) return STATUS_DEVICE_PROTOCOL_ERROR;
  }
  if (replyStatus != 0 || replyCount > outputLength) {
    /* A failure carries no bytes, and bytes beyond the caller's buffer are
     * never passed on: Wine hangs a caller whose reply is longer than its
     * buffer. */
    status = Drain(device, replyCount, deadline);
    if (!NT_SUCCESS(status)) goto broken;
    if (replyStatus == 0 || replyCount != 0) return STATUS_DEVICE_PROTOCOL_ERROR;
    /* The Win32 error travels as an NTSTATUS of the Win32 facility, which
     * the caller's side turns back into the same error code. */
    return replyStatus <= 0xFFFFu ? (NTSTATUS)(0xC0070000u | replyStatus) : STATUS_UNSUCCESSFUL;
  }
  if (replyCount > 0) {
    status = ReadAll(device, buffer, replyCount, deadline);
    if (!NT_SUCCESS(status)) goto broken;
  }
  *count = replyCount;
  return STATUS_SUCCESS;

broken:
  /* The stream is out of step: start afresh with the next request. */
  CloseFifos(device);
  return status;
}

static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
  irp->IoStatus.Status = status;
  irp->IoStatus.Information = information;
  IoCompleteRequest(irp, IO_NO_INCREMENT);
  return status;
}

static NTSTATUS NTAPI DispatchOpenClose(PDEVICE_OBJECT object, PIRP irp) {
  (void)object;
  return Complete(irp, STATUS_SUCCESS, 0);
}

static NTSTATUS NTAPI DispatchControl(PDEVICE_OBJECT object, PIRP irp) {
  PW_DEVICE* device = (PW_DEVICE*)object->DeviceExtension;
  PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
  ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
  ULONG inputLength = stack->Parameters.DeviceIoControl.InputBufferLength;
  ULONG outputLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
  UCHAR* buffer = (UCHAR*)irp->AssociatedIrp.SystemBuffer;
  ULONG count = 0;
  NTSTATUS status;

  /* Only buffered controls: their one system buffer holds the input and
   * takes the output. */
  if ((code & 3u) != METHOD_BUFFERED) return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
  if (inputLength > PW_WIRE_MAX_PAYLOAD || outputLength > PW_WIRE_MAX_PAYLOAD) {
    return Complete(irp, STATUS_INVALID_PARAMETER, 0);
  }
  if (!buffer && (inputLength > 0 || outputLength > 0)) return Complete(irp, STATUS_INVALID_PARAMETER, 0);

  KeWaitForSingleObject(&device->lock, Executive, KernelMode, FALSE, NULL);
  status = Exchange(device, code, buffer, inputLength, outputLength, &count);
  KeReleaseMutex(&device->lock, FALSE);
  return Complete(irp, status, NT_SUCCESS(status) ? count : 0);
}

static BOOLEAN LinkIsOurs(PW_DEVICE* device) {
  OBJECT_ATTRIBUTES attributes;
  UNICODE_STRING target;
  WCHAR buffer[64];
  HANDLE link;
  NTSTATUS status;
  UNICODE_STRING ours;

  InitializeObjectAttributes(&attributes, &device->linkName, OBJ_KERNEL_HANDLE | OBJ_CASE_INSENSITIVE, NULL, NULL);
  if (!NT_SUCCESS(ZwOpenSymbolicLinkObject(&link, GENERIC_READ, &attributes))) return FALSE;
  target.Buffer = buffer;
  target.Length = 0;
  target.MaximumLength = sizeof buffer;
  status = ZwQuerySymbolicLinkObject(link, &target, NULL);
  ZwClose(link);
  RtlInitUnicodeString(&ours, g_deviceName);
  return NT_SUCCESS(status) && RtlEqualUnicodeString(&target, &ours, TRUE);
}

/* Wine's mount manager maps the drive letter to a device of its own when it
 * notices the drive; the letter is taken back whenever that happens. */
static VOID NTAPI KeepLink(PVOID context) {
  PW_DEVICE* device = (PW_DEVICE*)context;
  UNICODE_STRING deviceName;
  LARGE_INTEGER interval;
  RtlInitUnicodeString(&deviceName, g_deviceName);
  interval.QuadPart = -2000000LL; /* 200 ms */
  do {
    if (!LinkIsOurs(device)) {
      IoDeleteSymbolicLink(&device->linkName);
      IoCreateSymbolicLink(&device->linkName, &deviceName);
    }
  } while (KeWaitForSingleObject(&device->stop, Executive, KernelMode, FALSE, &interval) == STATUS_TIMEOUT);
  PsTerminateSystemThread(STATUS_SUCCESS);
}

static VOID NTAPI DriverUnload(PDRIVER_OBJECT driver) {
  PDEVICE_OBJECT object = driver->DeviceObject;
  PW_DEVICE* device;
  if (!object) return;
  device = (PW_DEVICE*)object->DeviceExtension;
  KeSetEvent(&device->stop, IO_NO_INCREMENT, FALSE);
  if (device->linkThread) {
    KeWaitForSingleObject(device->linkThread, Executive, KernelMode, FALSE, NULL);
    ObDereferenceObject(device->linkThread);
  }
  IoDeleteSymbolicLink(&device->linkName);
  CloseFifos(device);
  if (device->replyEvent) ZwClose(device->replyEvent);
  if (device->requestPath.Buffer) ExFreePoolWithTag(device->requestPath.Buffer, PW_POOL_TAG);
  if (device->replyPath.Buffer) ExFreePoolWithTag(device->replyPath.Buffer, PW_POOL_TAG);
  IoDeleteDevice(object);
}

NTSTATUS NTAPI DriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING registryPath) {
  static const WCHAR requestName[] = L"\\" PW_WIRE_REQUEST_FIFO;
  static const WCHAR replyName[] = L"\\" PW_WIRE_REPLY_FIFO;
  WCHAR letter[8];
  WCHAR folder[400];
  ULONG letterBytes = 0;
  ULONG folderBytes = 0;
  UNICODE_STRING deviceName;
  PDEVICE_OBJECT object = NULL;
  PW_DEVICE* device;
  OBJECT_ATTRIBUTES attributes;
  HANDLE thread;
  NTSTATUS status;

  status = ReadText(registryPath, L"Drive", letter, sizeof letter, &letterBytes);
  if (!NT_SUCCESS(status) || letterBytes != sizeof(WCHAR)) return STATUS_INVALID_PARAMETER;
  if (!((letter[0] >= L'B' && letter[0] <= L'Z') || (letter[0] >= L'b' && letter[0] <= L'z'))) {
    return STATUS_INVALID_PARAMETER;
  }
  status = ReadText(registryPath, L"FifoDir", folder, sizeof folder, &folderBytes);
  if (!NT_SUCCESS(status)) return status;

  RtlInitUnicodeString(&deviceName, g_deviceName);
  status = IoCreateDevice(driver, sizeof(PW_DEVICE), &deviceName, FILE_DEVICE_DISK, FILE_REMOVABLE_MEDIA, FALSE,
                          &object);
  if (!NT_SUCCESS(status)) return status;
  device = (PW_DEVICE*)object->DeviceExtension;
  RtlZeroMemory(device, sizeof *device);
  KeInitializeMutex(&device->lock, 0);
  KeInitializeEvent(&device->stop, NotificationEvent, FALSE);
  driver->DriverUnload = DriverUnload;

  g_linkBuffer[12] = (WCHAR)(letter[0] & ~0x20);
  RtlInitUnicodeString(&device->linkName, g_linkBuffer);
  status = AllocateString(&device->requestPath, folder, (USHORT)folderBytes, requestName, sizeof requestName - 2);
  if (NT_SUCCESS(status)) {
    status = AllocateString(&device->replyPath, folder, (USHORT)folderBytes, replyName, sizeof replyName - 2);
  }
  if (NT_SUCCESS(status)) {
    InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
    status = ZwCreateEvent(&device->replyEvent, EVENT_ALL_ACCESS, &attributes, NotificationEvent, FALSE);
  }
  if (NT_SUCCESS(status)) {
    InitializeObjectAttributes(&attributes, NULL, OBJ_KERNEL_HANDLE, NULL, NULL);
    status = PsCreateSystemThread(&thread, THREAD_ALL_ACCESS, &attributes, NULL, NULL, KeepLink, device);
  }
  if (NT_SUCCESS(status)) {
    status = ObReferenceObjectByHandle(thread, SYNCHRONIZE, NULL, KernelMode, &device->linkThread, NULL);
    ZwClose(thread);
  }
  if (!NT_SUCCESS(status)) {
    DriverUnload(driver);
    return status;
  }

  driver->MajorFunction[IRP_MJ_CREATE] = DispatchOpenClose;
  driver->MajorFunction[IRP_MJ_CLEANUP] = DispatchOpenClose;
  driver->MajorFunction[IRP_MJ_CLOSE] = DispatchOpenClose;
  driver->MajorFunction[IRP_MJ_DEVICE_CONTROL] = DispatchControl;
  object->Flags &= ~DO_DEVICE_INITIALIZING;
  return STATUS_SUCCESS;
}
