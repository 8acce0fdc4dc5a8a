// opencv_display.cpp - takes a picture into a cv::Mat and writes it with OpenCV.
// usage: opencv_display [FILE.png]
// The SDK's 24-bit pixels are B, G, R: OpenCV's own order, so the frame needs no conversion.
// With OpenCV's highgui module, cv::imshow("camera", frame) would show it in a window.
#include <cstdio>
#include <opencv2/core.hpp>
#include <opencv2/imgcodecs.hpp>

#include <quorix/quorix.h>

int main(int argc, char** argv) {
    const char* file = argc > 1 ? argv[1] : "opencv_frame.png";
    const QuorixHandle camera = Quorix_Initialize(nullptr);
    if (camera == 0 || !Quorix_SetColorMode(camera, 24)) {
        std::fputs("opencv_display: no camera\n", stderr);
        return 1;
    }
    // The picture is the capture window, halved with sub-sampling; its rows are padded to 4
    // bytes, so the Mat is told its row step.
    const int halved = Quorix_GetSubSample(camera) == 1 ? 1 : 0;
    const int width = Quorix_Width(camera) >> halved;
    const int height = Quorix_Height(camera) >> halved;
    const size_t step = (static_cast<size_t>(width) * 3 + 3) & ~size_t{3};
    cv::Mat rows(height, static_cast<int>(step), CV_8UC1);
    const cv::Mat frame(height, width, CV_8UC3, rows.data, step);
    const bool ok = Quorix_SnapShot(camera, frame.data, static_cast<uint32_t>(rows.total()), 1) &&
                    cv::imwrite(file, frame);
    if (ok) {
        const cv::Scalar mean = cv::mean(frame);
        std::printf("%s: %d x %d, mean B G R %.1f %.1f %.1f\n", file, frame.cols, frame.rows,
                    mean[0], mean[1], mean[2]);
    } else {
        std::fprintf(stderr, "opencv_display: failed (error code %u)\n",
                     Quorix_GetLastError(camera));
    }
    Quorix_Release(camera);
    return ok ? 0 : 1;
}
