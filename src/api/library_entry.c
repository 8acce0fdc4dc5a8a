/* The shared library is built from the quorix_core archive as a whole; this translation unit only
 * gives the target a source of its own. */
typedef int QuorixLibraryEntryUnused;
