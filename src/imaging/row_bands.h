#pragma once

#include <cstdint>
#include <functional>

// Splitting the rows of an image among the processors. The pixel kernels that read one image and
// write another row by row (the demosaic) hand each processor a band of rows; the bytes written
// are the same as on one thread.
namespace quorix {

// Runs `work(firstRow, endRow)` over the rows [0, rows), split into consecutive bands of at least
// `minRowsPerBand` rows, a few per processor. The calling thread and worker threads, made once
// per process, take the bands in turn, each thread one band at a time; it returns when all are
// done. Work that does not fill two bands, a pool busy with another caller's bands, and
// QUORIX_THREADS=1 all run on the calling thread alone.
void ForEachRowBand(int32_t rows, int32_t minRowsPerBand,
                    const std::function<void(int32_t firstRow, int32_t endRow)>& work);

// How many bands ForEachRowBand may use at most: the processors, or QUORIX_THREADS when set
// (1 to 16).
int32_t RowBandCount();

// The calling thread's index, 0 to RowBandCount() - 1, among the threads that run bands: `work`
// may keep one buffer per index, as no two threads that run bands at once share one.
int32_t CurrentBandThread();

}  // namespace quorix
