/* A minimal application in C: create a context, read its version and errors, release it. */
#include <stdio.h>

#include <quorix/quorix.h>

int main(void) {
    if (Quorix_GetDllVersion() != QUORIX_DLL_VERSION) {
        fprintf(stderr, "unexpected version %08x\n", (unsigned)Quorix_GetDllVersion());
        return 1;
    }
    QuorixHandle handle = Quorix_Initialize(NULL);
    if (handle == 0) {
        fprintf(stderr, "no handle\n");
        return 1;
    }
    /* A serial-number buffer below 32 bytes is refused with code 9. */
    char serial[8];
    if (Quorix_ReadSerialNumberA(handle, serial, (int32_t)sizeof serial) != 0 ||
        Quorix_GetLastError(handle) != QUORIX_ERR_ARGUMENT ||
        Quorix_GetLastError(handle) != QUORIX_ERR_NONE) {
        fprintf(stderr, "error history does not hold code 9\n");
        return 1;
    }
    if (Quorix_Release(handle) != 1 || Quorix_Release(handle) != 0) {
        fprintf(stderr, "release did not forget the handle\n");
        return 1;
    }
    puts("hello_quorix: ok");
    return 0;
}
