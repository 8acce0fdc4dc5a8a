/* snapshot.c - takes one colour picture and saves it as a PNG file.
 * usage: snapshot [FILE.png [DEVICE-INDEX]]
 * Without a device index the camera is the one attached (Quorix_Initialize opens it). */
#include <stdio.h>
#include <stdlib.h>

#include <quorix/quorix.h>

int main(int argc, char** argv) {
    const char* file = argc > 1 ? argv[1] : "snapshot.png";
    QuorixHandle camera = Quorix_Initialize(NULL);
    if (camera == 0) {
        fputs("snapshot: no camera context\n", stderr);
        return 1;
    }
    int ok = (argc <= 2 || Quorix_SetDeviceNumber(camera, atoi(argv[2]))) &&
             Quorix_SetColorMode(camera, 24) &&     /* B, G, R, 8 bits each */
             Quorix_SnapShot(camera, NULL, 0, 1) && /* the library keeps the frame */
             Quorix_SaveImage(camera, file, QUORIX_SAVE_PNG);
    if (ok) {
        printf("saved %s\n", file);
    } else {
        fprintf(stderr, "snapshot: failed with error code %u\n", Quorix_GetLastError(camera));
    }
    Quorix_Release(camera);
    return ok ? 0 : 1;
}
