// libkelmar.so's version note (version_note.h): data only, nothing runs and
// nothing is exported.
#include "version_note.h"

  .section .note.kelmar.version, "a", @note
  .balign 4
  .long 2f - 1f
  .long 4f - 3f
  .long KELMAR_NOTE_TYPE_VERSION
1: .asciz KELMAR_NOTE_OWNER
2: .balign 4
3: .asciz KELMAR_VERSION
4: .balign 4

  .section .note.GNU-stack, "", @progbits
