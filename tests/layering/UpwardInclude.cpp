// Compiled as part of a lower folder's library with a header of a higher
// folder: the build must not find that header.
#include PAGEWICK_UPWARD_HEADER
