// Loading a 24-megapixel photograph into LED-sized areas: the DCT scaling should keep it fast
// and small. Peak memory is the growth of the resident set during one decode and stretch.
#include "codec/picture_io.h"

#include "../tests/render/picture_jpeg_writer.h"

#include "peak_memory.h"

#include <benchmark/benchmark.h>


namespace {

const QByteArray& Photo(bool progressive)
{
    static const QByteArray baseline = mxtest::MakeJpeg(mxtest::PhotoLike(6000, 4000), {.quality = 90});
    static const QByteArray stepwise =
        mxtest::MakeJpeg(mxtest::PhotoLike(6000, 4000), {.quality = 90, .progressive = true});
    return progressive ? stepwise : baseline;
}

using mxbench::PeakMiB;

// Arguments: the area's width and height (0 x 0 decodes at full size, for comparison), and 1
// for a progressive photograph, whose coefficients libjpeg must keep whole whatever the scale.
void BM_LoadPhotoInto(benchmark::State& state)
{
    const int w = int(state.range(0)), h = int(state.range(1));
    const QSize target = w > 0 ? QSize(w, h) : QSize();
    const QByteArray& jpeg = Photo(state.range(2) != 0);
    QSize decoded;
    const double peak = PeakMiB([&] {
        const mx::PictureResult r = mx::DecodeJpeg(jpeg, target, QStringLiteral("photo.jpg"));
        decoded = r.image.size();
        if (w > 0)
            benchmark::DoNotOptimize(mx::StretchTo(r.image, w, h));
    });
    if (!decoded.isValid()) {
        state.SkipWithError("the photograph did not decode");
        return;
    }
    for (auto _ : state) {
        mx::PictureResult r = mx::DecodeJpeg(jpeg, target, QStringLiteral("photo.jpg"));
        QImage fitted = w > 0 ? mx::StretchTo(r.image, w, h) : r.image;
        benchmark::DoNotOptimize(fitted);
    }
    state.counters["peak_MiB"] = peak;
    state.counters["file_MiB"] = double(jpeg.size()) / (1024.0 * 1024.0);
    state.SetLabel("decoded " + std::to_string(decoded.width()) + "x" + std::to_string(decoded.height()));
}

} // namespace

BENCHMARK(BM_LoadPhotoInto)
    ->ArgNames({"w", "h", "progressive"})
    ->Args({64, 32, 0})
    ->Args({128, 32, 0})
    ->Args({256, 64, 0})
    ->Args({0, 0, 0})
    ->Args({64, 32, 1})
    ->Args({256, 64, 1})
    ->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
