/* preview_callback.c - runs the camera continuously and takes its frames in a poll() loop on the
 * library's message file descriptor, as an application with its own event loop does.
 * usage: preview_callback [FRAMES] */
#include <poll.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

#include <quorix/quorix.h>

int main(int argc, char** argv) {
    const int wanted = argc > 1 ? atoi(argv[1]) : 30;
    QuorixHandle camera = Quorix_Initialize(NULL);
    QuorixWindow frames = Quorix_CreateMessageWindow(); /* receives a message per frame */
    if (camera == 0 || frames == NULL) {
        fputs("preview_callback: no camera context or message window\n", stderr);
        return 1;
    }
    /* Room for the largest frame: 2048 x 1536 at 24 bits, rows padded to 4 bytes. */
    const uint32_t size = 2048 * 1536 * 3;
    uint8_t* buffer = malloc(size);
    int received = 0;
    int failed = buffer == NULL || !Quorix_SetColorMode(camera, 24) ||
                 !Quorix_SetPreviewWindow(camera, NULL, 0, 0, 0, 0) || /* no window, frames only */
                 !Quorix_CallBackPreview(camera, frames, buffer, size, 1 /* top row first */);
    struct pollfd ready = {.fd = Quorix_GetWindowMessageFd(frames), .events = POLLIN};
    while (!failed && received < wanted && poll(&ready, 1, 5000) > 0) {
        QuorixMessage message;
        while (Quorix_PeekWindowMessage(frames, &message) == 1) {
            if (message.message != QUORIX_MSG_FRAME) {
                continue;
            }
            if (message.wParam == 0) { /* no frame: lParam is the error code, e.g. 13 unplugged */
                fprintf(stderr, "preview_callback: frames ended with error code %ld\n",
                        (long)message.lParam);
                failed = 1;
                break;
            }
            /* The frame is in buffer until the next one arrives: use or copy it now. */
            const QuorixFrameInfo* info = (const QuorixFrameInfo*)message.wParam;
            const uint32_t stride = (info->width * 3 + 3) & ~3u; /* rows padded to 4 bytes */
            const uint8_t* centre = buffer + (info->height / 2) * stride + (info->width / 2) * 3;
            printf("frame %d: %u x %u, centre B G R %u %u %u, %.1f frames/s\n", ++received,
                   info->width, info->height, centre[0], centre[1], centre[2],
                   info->frameRate / 10.0);
        }
    }
    Quorix_StopPreview(camera);
    if (received < wanted && !failed) {
        fprintf(stderr, "preview_callback: %d of %d frames (error code %u)\n", received, wanted,
                Quorix_GetLastError(camera));
    }
    Quorix_Release(camera);
    Quorix_DestroyMessageWindow(frames);
    free(buffer);
    return received == wanted ? 0 : 1;
}
