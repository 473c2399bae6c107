// Compiled with the include roots of one target: its own header is found, a
// header of a folder it may not see is not. Either failure stops the compile,
// with any compiler.
#ifdef PAGEWICK_OWN_HEADER
#if !__has_include(PAGEWICK_OWN_HEADER)
#error "the target's own header is not found: the probe has the wrong include roots"
#endif
#endif
#if __has_include(PAGEWICK_UPWARD_HEADER)
#error "a header of a folder that this target may not see is found"
#endif
