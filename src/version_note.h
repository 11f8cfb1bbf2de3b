// The note by which libkelmar.so says which version it is, readable from the
// file without loading it (kelmar-check --library, readelf -n): owner
// "kelmar", this type, the version as a terminated text. Beside it the
// linker's GNU build id tells one build from another.
#pragma once

#define KELMAR_NOTE_OWNER "kelmar"
#define KELMAR_NOTE_TYPE_VERSION 1
