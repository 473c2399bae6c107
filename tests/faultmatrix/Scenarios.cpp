// The rows of the fault matrix, family by family. Row names are
// "family/detail" and stable: the expected-to-fail list names rows by them.
#include <cstdio>
#include <fstream>
#include <random>
#include <string>

#include "tests/faultmatrix/Scenario.h"

namespace pw::faultmatrix {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A transfer of four chunks: 30000 bytes as 8192 + 8192 + 8192 + 5424, or in
// odd lengths (1, 4095, 10000 and the rest). Its requests: length queries 0-4
// (the fifth answers the end marker) and chunk reads 0-3.
struct Shape {
  const char* name;
  const char* chunk;
};
constexpr Shape kShapes[] = {{"fixed8k", "fixed:8192"}, {"odd", "script:1,4095,10000,15904"}};
constexpr int kChunks = 4;
constexpr int kQueries = 5;

struct ErrorCode {
  const char* name;
  unsigned code;
};
constexpr ErrorCode kOtherErrors[] = {
    {"gen-failure", 31}, {"io-device", 1117}, {"access-denied", 5}, {"invalid-parameter", 87}};

std::string Hex(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", value);
  return text;
}

std::string Name(const std::string& family, const std::string& detail) { return family + "/" + detail; }

Scenario Row(std::string name, const char* chunk, std::vector<std::string> faults = {}) {
  Scenario row;
  row.name = std::move(name);
  row.simArguments = {"--chunk", chunk};
  row.simArguments.insert(row.simArguments.end(), faults.begin(), faults.end());
  return row;
}

void FaultKinds(std::vector<Scenario>& rows) {
  for (const Shape& shape : kShapes) {
    const std::string family = std::string("fault-") + shape.name;
    // A chunk read that times out and succeeds on a repetition, or fails all six times.
    for (int chunk = 0; chunk < kChunks; ++chunk) {
      for (int failures = 1; failures <= 6; ++failures) {
        rows.push_back(Row(Name(family, "chunk" + std::to_string(chunk) + "-timeout-x" + std::to_string(failures)),
                           shape.chunk, {"--fail", "chunk:" + std::to_string(chunk) + ":" + std::to_string(failures) + ":121"}));
      }
    }
    // A length query that times out once, five and six times in a row.
    for (int query = 0; query < kQueries; ++query) {
      for (int failures : {1, 5, 6}) {
        rows.push_back(Row(Name(family, "length" + std::to_string(query) + "-timeout-x" + std::to_string(failures)),
                           shape.chunk, {"--fail", "length:" + std::to_string(query) + ":" + std::to_string(failures) + ":121"}));
      }
    }
    // Any other error ends the pull; the picture must come again whole.
    for (const ErrorCode& error : kOtherErrors) {
      for (int chunk = 0; chunk < kChunks; ++chunk) {
        rows.push_back(Row(Name(family, "chunk" + std::to_string(chunk) + "-" + error.name), shape.chunk,
                           {"--fail", "chunk:" + std::to_string(chunk) + ":1:" + std::to_string(error.code)}));
      }
      for (int query = error.code == 31 ? 0 : 1; query < kQueries; ++query) {
        rows.push_back(Row(Name(family, "length" + std::to_string(query) + "-" + error.name), shape.chunk,
                           {"--fail", "length:" + std::to_string(query) + ":1:" + std::to_string(error.code)}));
      }
    }
    // Unplugged in the middle: the picture stays on the scanner.
    for (int answered = 1; answered <= kChunks; ++answered) {
      Scenario row = Row(Name(family, "unplug-after-chunk" + std::to_string(answered)), shape.chunk,
                         {"--unplug-after", "chunk:" + std::to_string(answered)});
      row.expect = Expect::NotDelivered;
      row.runFor = 5s;
      rows.push_back(row);
    }
    for (int answered = 1; answered <= kQueries; ++answered) {
      Scenario row = Row(Name(family, "unplug-after-length" + std::to_string(answered)), shape.chunk,
                         {"--unplug-after", "length:" + std::to_string(answered)});
      // After the fifth answer, the end marker, the picture was delivered.
      row.expect = answered == kQueries ? Expect::AsDelivered : Expect::NotDelivered;
      row.runFor = 5s;
      rows.push_back(row);
    }
    // Lengths the data area cannot hold, negative lengths and zero, at every length query.
    const std::pair<const char*, std::uint32_t> odd[] = {{"above-area", 524289u},
                                                         {"huge", 0x7FFFFFFFu},
                                                         {"negative-min", 0x80000000u},
                                                         {"negative-one", 0xFFFFFFFFu},
                                                         {"zero", 0u}};
    for (const auto& [label, value] : odd) {
      for (int query = 0; query < kQueries; ++query) {
        rows.push_back(Row(Name(family, "length" + std::to_string(query) + "-" + label), shape.chunk,
                           {"--length-override", std::to_string(query) + ":" + Hex(value)}));
      }
    }
    rows.push_back(Row(Name(family, "end-marker-first"), shape.chunk, {"--length-override", "0:0xCCDDEEFF"}));
  }
  // The INQUIRY that opens the pull's exchange fails or times out.
  for (int inquiry : {2, 3}) {
    for (const ErrorCode& error : {ErrorCode{"timeout", 121}, ErrorCode{"gen-failure", 31}}) {
      rows.push_back(Row(Name("fault-inquiry", std::to_string(inquiry) + "-" + error.name), "fixed:8192",
                         {"--fail", "inquiry:" + std::to_string(inquiry) + ":1:" + std::to_string(error.code)}));
    }
  }
}

// Random chunk lengths and random faults over many seeds.
void RandomPolicies(std::vector<Scenario>& rows) {
  for (std::uint32_t seed = 1; seed <= 40; ++seed) {
    std::mt19937 draw(seed);
    Scenario row = Row(Name("random-timeouts", "seed" + std::to_string(seed)),
                       ("random:" + std::to_string(seed) + ":1:" + std::to_string(4000 + draw() % 60000)).c_str(),
                       {"--random-fail", "chunk:0.15:" + std::to_string(seed) + ":121", "--random-fail",
                        "length:0.10:" + std::to_string(seed + 1000) + ":121"});
    row.images = {ImagePlan{ImageKind::Bytes, 20000 + draw() % 120000}, ImagePlan{ImageKind::Bytes, 1 + draw() % 50000}};
    rows.push_back(row);
  }
  for (std::uint32_t seed = 41; seed <= 70; ++seed) {
    std::mt19937 draw(seed);
    Scenario row = Row(Name("random-errors", "seed" + std::to_string(seed)),
                       ("random:" + std::to_string(seed) + ":1000:" + std::to_string(8000 + draw() % 40000)).c_str(),
                       {"--random-fail", "chunk:0.05:" + std::to_string(seed) + ":31", "--random-fail",
                        "length:0.05:" + std::to_string(seed + 1000) + ":121"});
    row.images = {ImagePlan{ImageKind::Bytes, 20000 + draw() % 80000}};
    rows.push_back(row);
  }
}

// WRITE-FAULT HOOK: rows with write faults injected by the host world (a
// write that fails at a chosen offset) go here once the world offers them to
// a process of its own. Until then the small-drive rows below make writes
// fail for real.
void WriteFaults(std::vector<Scenario>&) {}

void Drives(std::vector<Scenario>& rows) {
  {
    Scenario row = Row("drive/own-drive", "fixed:65536");
    row.save = SaveKind::OwnDrive;
    rows.push_back(row);
  }
  for (int pictures : {1, 2}) {
    Scenario row = Row("drive/full-" + std::to_string(pictures), "fixed:65536");
    row.save = SaveKind::FullDrive;
    row.images.assign(static_cast<std::size_t>(pictures), ImagePlan{});
    row.expect = Expect::DrainedToScratch;
    rows.push_back(row);
  }
  // The guard accepts (about 4 MB free) but a picture 600 kB larger than the
  // drive does not fit: writes fail at several offsets.
  for (std::uint64_t extraKiB : {128u, 512u, 1024u, 2048u}) {
    for (const char* chunk : {"fixed:65536", "fixed:524288"}) {
      Scenario row = Row("drive/overflow-" + std::to_string(extraKiB) + "k-" + (chunk + 6), chunk);
      row.save = SaveKind::SmallDrive;
      row.driveBytes = (3906 + extraKiB) * 1024;
      row.images = {ImagePlan{ImageKind::Bytes, (3906 + extraKiB) * 1024 + 600'000}};
      // The picture cannot fit: the write that fails keeps what arrived as a
      // partial, and the next poll finds too little room and drains the
      // picture into the scratch file with the disk-full box.
      row.expect = Expect::DrainedToScratch;
      row.runFor = 7s;
      rows.push_back(row);
    }
  }
  for (bool autoRotate : {false, true}) {
    Scenario row = Row(std::string("drive/read-only") + (autoRotate ? "-autorotate" : ""), "fixed:8192");
    row.save = SaveKind::ReadOnlyDrive;
    row.autoRotate = autoRotate;
    row.expect = Expect::NotDelivered;
    row.runFor = 6s;
    rows.push_back(row);
  }
  WriteFaults(rows);
}

void SaveLocations(std::vector<Scenario>& rows) {
  const std::pair<const char*, SaveKind> kinds[] = {
      {"missing", SaveKind::Missing}, {"is-a-file", SaveKind::IsAFile}, {"photo1-is-a-file", SaveKind::PhotoIsAFile}};
  for (const auto& [label, kind] : kinds) {
    for (int pictures : {1, 2}) {
      Scenario row = Row(std::string("save-location/") + label + "-" + std::to_string(pictures), "fixed:8192");
      row.save = kind;
      row.images.assign(static_cast<std::size_t>(pictures), ImagePlan{});
      rows.push_back(row);
    }
  }
}

// Control requests while a slow pull runs: five chunks of 4096 bytes, each
// answered after 2 s, and a request after each chunk. A stop that waits for
// the rest of the pull takes 8, 6, 4, 2 or 0 s: far from the 5 s bound either way.
void Controls(std::vector<Scenario>& rows) {
  const std::pair<const char*, ControlAction> actions[] = {{"stop", ControlAction::StopThenRestart},
                                                           {"pause-continue", ControlAction::PauseContinue},
                                                           {"interrogate", ControlAction::Interrogate},
                                                           {"pause-stop", ControlAction::PauseStopRestart}};
  for (const auto& [label, action] : actions) {
    for (int chunk = 1; chunk <= 5; ++chunk) {
      Scenario row = Row(std::string("control/") + label + "-after-chunk" + std::to_string(chunk), "fixed:4096",
                         {"--delay", "chunk:2000"});
      row.images = {ImagePlan{ImageKind::Bytes, 5 * 4096}};
      row.controls = {ControlStep{chunk, action}};
      rows.push_back(row);
    }
  }
}

// A scanner that stops answering in the middle of a poll, at each of its
// requests: the request is held past its time-out (10 s for the descriptor
// query, 2 s and a margin for the others), and a stop comes 3 s after the
// start, while one is held. The stop must not wait for it. The descriptor
// query is held once (from the first poll on; the start-up walks the drives
// twice before it), and the picture comes after the restart; the other
// requests are held from then on, so that the stop finds one held whatever
// the phase of the poll, and the scanner keeps its picture.
void HungScanner(std::vector<Scenario>& rows) {
  struct Hold {
    const char* label;
    const char* hang;
    Expect expect;
  };
  const Hold holds[] = {{"descriptor", "descriptor:2:1", Expect::SavedOnce},
                        {"inquiry", "inquiry:2:forever", Expect::NotDelivered},
                        {"length", "length:0:forever", Expect::NotDelivered},
                        {"chunk", "chunk:0:forever", Expect::NotDelivered}};
  for (const Hold& hold : holds) {
    Scenario row = Row(std::string("hung/") + hold.label + "-stop", "fixed:8192", {"--hang", hold.hang});
    row.controls = {ControlStep{0, ControlAction::StopThenRestart, 3000ms}};
    row.expect = hold.expect;
    rows.push_back(row);
  }
}

// Pictures in a row across the folder boundary: Photo1 holds img9998.jpg, so
// the next pictures are Photo1\img9999.jpg, Photo2\img0001.jpg, Photo2\img0002.jpg.
void FolderBoundary(std::vector<Scenario>& rows) {
  auto boundary = [](std::string name, std::vector<std::string> faults, bool autoRotate) {
    Scenario row = Row("folder-boundary/" + name, "fixed:8192", std::move(faults));
    row.images.assign(3, ImagePlan{autoRotate ? ImageKind::SidewaysPicture : ImageKind::Bytes, 30000});
    row.autoRotate = autoRotate;
    row.seed = [](const fs::path& saveFolder) {
      std::ofstream(saveFolder / "Photo1" / "img9998.jpg", std::ios::binary) << "\xFF\xD8 the user's 9998 \xFF\xD9";
    };
    row.expectedNames = {"drive_c/Scans/Photo1/img9999.jpg", "drive_c/Scans/Photo2/img0001.jpg",
                         "drive_c/Scans/Photo2/img0002.jpg"};
    return row;
  };
  rows.push_back(boundary("plain", {}, false));
  rows.push_back(boundary("timeouts", {"--fail", "chunk:1:2:121", "--fail", "chunk:5:6:121"}, false));
  // The second picture, the first of Photo2, is interrupted once.
  rows.push_back(boundary("error-in-rollover-picture", {"--fail", "chunk:5:1:31"}, false));
  rows.push_back(boundary("error-in-last-of-photo1", {"--fail", "chunk:1:1:1117"}, false));
  rows.push_back(boundary("autorotate", {}, true));

  // Every folder up to Photo9999 exists and the last holds the user's img9999.jpg:
  // there is no number left, and the user's picture must stay.
  Scenario cap = Row("folder-boundary/last-folder-full", "fixed:8192");
  cap.seed = [](const fs::path& saveFolder) {
    for (int n = 2; n <= 9999; ++n) fs::create_directory(saveFolder / ("Photo" + std::to_string(n)));
    std::ofstream(saveFolder / "Photo9999" / "img9999.jpg", std::ios::binary) << "\xFF\xD8 the user's 9999 \xFF\xD9";
  };
  cap.expect = Expect::AsDelivered;
  cap.expectedNames = {"?"};
  cap.runFor = 8s;
  rows.push_back(cap);
}

std::string BinaryText(std::size_t size, std::uint32_t seed) {
  std::string text(size, '\0');
  std::mt19937 draw(seed);
  for (char& c : text) c = static_cast<char>(draw() & 0xFFu);
  return text;
}

void SettingsAndTexts(std::vector<Scenario>& rows) {
  const std::string scans = "[Setting]\r\nMode=1\r\nPath=C:\\Scans\r\nAutoRoate=0\r\n";
  std::string huge;
  for (int i = 0; huge.size() < (2u << 20); ++i) huge += "Key" + std::to_string(i) + "=" + std::string(60, 'v') + "\r\n";
  const std::pair<const char*, std::string> settings[] = {
      {"empty", ""},
      {"corrupt", "[Setting\r\nPath=C:\\Scans\r\n==\r\n[[[]]]\r\nMode=abc\r\nAutoRoate=0x\r\n\r\n;"},
      {"huge", "[Setting]\r\n" + huge + "Mode=1\r\nPath=C:\\Scans\r\n"},
      {"binary", BinaryText(4096, 7)},
      {"binary-then-setting", BinaryText(2048, 8) + "\r\n" + scans},
      {"mode-5", "[Setting]\r\nMode=5\r\nPath=C:\\Scans\r\n"},
  };
  for (const auto& [label, text] : settings) {
    Scenario row = Row(std::string("settings/") + label, "fixed:8192");
    row.settingsText = text;
    row.images.assign(2, ImagePlan{});
    // Where the pictures go depends on what the file still says; that they arrive once, whole, does not.
    row.expectedNames = {"?", "?"};
    rows.push_back(row);
  }
  const std::pair<const char*, std::string> tables[] = {
      {"empty", ""},
      {"corrupt", "[String\r\n10000=\r\n=\r\n40000\r\n[[]]\r\n10010=Pagewick"},
      {"huge", "[String]\r\n" + huge + "40000=" + std::string(100000, 'x') + "\r\n10010=" + std::string(5000, 'y') +
                   "\r\n"},
      {"binary", BinaryText(8192, 9)},
  };
  for (const auto& [label, text] : tables) {
    Scenario row = Row(std::string("text-table/") + label, "fixed:8192");
    row.textTable = text;
    rows.push_back(row);
    // The disk-full message box looks its texts up too.
    Scenario full = Row(std::string("text-table/") + label + "-full-drive", "fixed:65536");
    full.textTable = text;
    full.save = SaveKind::FullDrive;
    full.expect = Expect::DrainedToScratch;
    rows.push_back(full);
  }
}

// Finding the scanner and pictures it offers again.
void ScannerFound(std::vector<Scenario>& rows) {
  // The first descriptor query times out while the device settles: the scan is
  // repeated at the next tick.
  rows.push_back(Row("scanner-found/descriptor-timeout-at-plug-in", "fixed:8192", {"--fail", "descriptor:0:1:121"}));
  // The scanner answers the end marker after two chunks and then offers the
  // whole picture again: it is saved once, whole, under its number.
  rows.push_back(Row("scanner-found/early-end-marker", "fixed:8192", {"--length-override", "2:0xCCDDEEFF"}));
  // Every byte arrived but the last length query failed: the picture comes
  // again and is saved once.
  rows.push_back(Row("scanner-found/final-length-query-failed", "fixed:8192", {"--fail", "length:4:1:31"}));
  // Unplugged mid-pull and back a second later under another letter (its
  // arrival comes while the old path is still attached): found again, the
  // picture saved once and whole.
  {
    Scenario row = Row("scanner-found/back-under-another-letter", "fixed:8192",
                       {"--unplug-after", "chunk:2", "--return-as", "H"});
    row.runFor = 8s;
    rows.push_back(row);
  }
  // Unplugged mid-pull and a card reader takes E: at once: it hears nothing
  // but descriptor queries; the picture stays on the scanner.
  {
    Scenario row = Row("scanner-found/other-drive-takes-the-letter", "fixed:8192",
                       {"--unplug-after", "chunk:2", "--then-other", "CARDREADER"});
    row.expect = Expect::NotDelivered;
    row.otherDriveHearsOnlyTheDescriptor = true;
    row.runFor = 6s;
    rows.push_back(row);
  }
}

void AutoRotate(std::vector<Scenario>& rows) {
  auto rotated = [](std::string name, const char* chunk, std::vector<std::string> faults) {
    Scenario row = Row("autorotate/" + name, chunk, std::move(faults));
    row.autoRotate = true;
    row.images = {ImagePlan{ImageKind::SidewaysPicture}, ImagePlan{ImageKind::UprightPicture}};
    return row;
  };
  rows.push_back(rotated("plain", "fixed:8192", {}));
  rows.push_back(rotated("one-chunk", "fixed:524288", {}));
  rows.push_back(rotated("chunk1-timeout-x3", "fixed:2048", {"--fail", "chunk:1:3:121"}));
  rows.push_back(rotated("chunk1-timeout-x6", "fixed:2048", {"--fail", "chunk:1:6:121"}));
  rows.push_back(rotated("chunk2-gen-failure", "fixed:2048", {"--fail", "chunk:2:1:31"}));
  rows.push_back(rotated("length2-negative", "fixed:2048", {"--length-override", "2:0x80000000"}));
  rows.push_back(rotated("length2-above-area", "fixed:2048", {"--length-override", "2:0x00080001"}));
  rows.push_back(rotated("end-marker-first", "fixed:2048", {"--length-override", "0:0xCCDDEEFF"}));
  for (int seed = 1; seed <= 4; ++seed) {
    rows.push_back(rotated("random-seed" + std::to_string(seed), ("random:" + std::to_string(seed) + ":1:3000").c_str(),
                           {"--random-fail", "chunk:0.1:" + std::to_string(seed) + ":121"}));
  }
}

}  // namespace

std::vector<Scenario> AllScenarios() {
  std::vector<Scenario> rows;
  FaultKinds(rows);
  RandomPolicies(rows);
  Drives(rows);
  SaveLocations(rows);
  Controls(rows);
  HungScanner(rows);
  FolderBoundary(rows);
  SettingsAndTexts(rows);
  AutoRotate(rows);
  ScannerFound(rows);
  return rows;
}

}  // namespace pw::faultmatrix
