/* record.c - records a few seconds of the camera into an uncompressed AVI file.
 * usage: record [FILE.avi [SECONDS]] */
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <quorix/quorix.h>

int main(int argc, char** argv) {
    const char* file = argc > 1 ? argv[1] : "record.avi";
    const int seconds = argc > 2 ? atoi(argv[2]) : 3;
    QuorixHandle camera = Quorix_Initialize(NULL);
    if (camera == 0) {
        fputs("record: no camera context\n", stderr);
        return 1;
    }
    /* Every frame at the camera's rate: no pause between frames, every frame delivered. */
    int ok = Quorix_SetWaitTime(camera, 0) &&
             Quorix_SetDeliveryMode(camera, QUORIX_DELIVERY_EVERY_FRAME) &&
             Quorix_Record(camera, file, (uint32_t)seconds * 1000, 0 /* no window */);
    QuorixRecordStatus status = {.size = sizeof status};
    /* The recording ends by itself after its duration; its state tells when the file is done. */
    for (int waited = 0; ok && waited < (seconds + 10) * 10; ++waited) {
        ok = Quorix_GetRecordStatus(camera, &status);
        if (status.state == QUORIX_RECORD_FINISHED) {
            break;
        }
        usleep(100 * 1000);
    }
    Quorix_StopPreview(camera);
    ok = ok && status.state == QUORIX_RECORD_FINISHED &&
         status.endReason == QUORIX_RECORD_END_DURATION;
    if (ok) {
        printf("%s: %llu frames of %u x %u at %.2f frames/s, %llu dropped, %llu bytes\n", file,
               (unsigned long long)status.framesWritten, status.width, status.height,
               status.rate / 100.0, (unsigned long long)status.framesDropped,
               (unsigned long long)status.fileBytes);
    } else {
        fprintf(stderr, "record: failed (error code %u, end reason %u)\n",
                Quorix_GetLastError(camera), status.endReason);
    }
    Quorix_Release(camera);
    return ok ? 0 : 1;
}
