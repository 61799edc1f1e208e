// The link view's painting: 2 x 100,000 events over five weeks (commands both ways, every one
// matched, a fibre interruption a day), painted into a 1200 x 360 picture as the window does, at
// every scale from the whole five weeks down to a second, and while panning at the hour scale (a
// drag repaints per mouse move). Prints the median milliseconds per paint.

#include "logbook/LinkPicture.h"

#include "BenchSupport.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

namespace {

LinkPictureData makeLink(int perLane) {
    LinkPictureData d;
    d.titles = {QStringLiteral("Local: Address 300"), QStringLiteral("Remote: Address 301")};
    const double start = double(QDateTime(QDate(2026, 11, 1), QTime(0, 0), Qt::UTC).toMSecsSinceEpoch());
    const double step = 35.0 * 86400000 / perLane;
    for (int i = 0; i < perLane; ++i) {
        const double t = start + i * step;
        const bool fromLocal = i % 2 == 0;
        const int k = 1 + i / 2 % 8;
        LinkMark send{t, 2 * k - 1, false, false, i, i};
        LinkMark receive{t + 8 + i % 8, 16 + 2 * k - 1, false, false, i, i};
        d.lanes[0] << (fromLocal ? send : receive);
        d.lanes[1] << (fromLocal ? receive : send);
    }
    for (int day = 0; day < 35; ++day)
        for (int l = 0; l < 2; ++l)
            d.bands[l] << LinkBand{start + day * 86400000.0 + 3600000, start + day * 86400000.0 + 3640000,
                                   day % 2 == 1, false, false};
    return d;
}

double paintMs(QImage& image, const LinkPictureData& d, const TimeView& view) {
    QElapsedTimer t;
    t.start();
    QPainter p(&image);
    PaintLinkPicture(p, image.rect(), d, view, Lang::English, LinkMarkRef{0, 1000});
    p.end();
    return t.nsecsElapsed() / 1e6;
}

} // namespace

int main(int argc, char* argv[]) {
    UseOffscreenUnlessSet();
    QGuiApplication app(argc, argv);
    const LinkPictureData d = makeLink(100000);
    QImage image(1200, 360, QImage::Format_RGB32);
    qint64 from = 0, to = 0;
    d.Extent(&from, &to);
    const TimeView all = FittedView(from, to, image.width());
    std::printf("link picture, 2 x %lld events, %d x %d pixels: median ms per paint\n",
                static_cast<long long>(d.lanes[0].size()), image.width(), image.height());
    const struct {
        const char* name;
        double spanMs;
    } scales[] = {{"five weeks", 0}, {"a day", 86400000.0}, {"an hour", 3600000.0}, {"a second", 1000.0}};
    for (const auto& s : scales) {
        TimeView view = all;
        if (s.spanMs > 0) {
            view.msPerPixel = s.spanMs / image.width();
            view.start = (from + to) / 2.0;
        }
        std::vector<double> samples;
        for (int i = 0; i < 31; ++i)
            samples.push_back(paintMs(image, d, view));
        std::printf("  %-12s %8.2f ms\n", s.name, Median(samples));
    }
    // A drag at the hour scale: one paint per 10 pixels moved.
    TimeView view{(from + to) / 2.0, 3600000.0 / image.width()};
    std::vector<double> samples;
    for (int i = 0; i < 120; ++i) {
        view.start += 10 * view.msPerPixel;
        samples.push_back(paintMs(image, d, view));
    }
    std::printf("  %-12s %8.2f ms (120 paints, 10 pixels apart)\n", "panning", Median(samples));
    return 0;
}
