// lapidograph-cli dither: a picture file turned into the dot image the laser would engrave.
#include "cliio.h"
#include "commands.h"

#include "glyphs/dithering.h"
#include "platform/numfmt.h"

#include <QRegularExpression>

namespace lapido::cli {

namespace {

const char kUsage[] = "usage: dither IN OUT --size WxH [--gamma G] [--keep-aspect]";

} // namespace

int cmdDither(const QStringList& args)
{
    QStringList files;
    QSize size;
    double gamma = 1.5;
    bool keepAspect = false;
    for (int i = 0; i < args.size(); ++i) {
        const QString& a = args.at(i);
        if (a == QLatin1String("--keep-aspect")) {
            keepAspect = true;
        } else if (a == QLatin1String("--size") || a == QLatin1String("--gamma")) {
            if (i + 1 >= args.size())
                return usageError(a + QStringLiteral(" needs a value; ") + kUsage);
            const QString value = args.at(++i);
            if (a == QLatin1String("--size")) {
                static const QRegularExpression form(QStringLiteral("^(\\d{1,9})[xX](\\d{1,9})$"));
                const auto m = form.match(value);
                if (!m.hasMatch() || m.captured(1).toInt() <= 0 || m.captured(2).toInt() <= 0)
                    return usageError(QStringLiteral("--size wants WIDTHxHEIGHT in whole dots above 0, not \"%1\"").arg(value));
                size = QSize(m.captured(1).toInt(), m.captured(2).toInt());
            } else {
                const auto g = StrToFloatPoint(value.toStdString());
                if (!g || *g <= 0 || *g > 100)
                    return usageError(QStringLiteral("--gamma wants a number above 0 such as 1.5, not \"%1\"").arg(value));
                gamma = *g;
            }
        } else if (a.startsWith(QLatin1String("--"))) {
            return usageError(QStringLiteral("unknown option \"%1\"; ").arg(a) + kUsage);
        } else {
            files << a;
        }
    }
    if (files.size() != 2 || size.isEmpty())
        return usageError(QString::fromLatin1(kUsage));

    const PictureFile picture = loadPicture(files.at(0));
    if (!picture.error.isEmpty()) {
        err(QStringLiteral("lapidograph-cli: ") + picture.error);
        return 1;
    }
    const QSize dots = ditheredSize(picture.image.size(), size.width(), size.height(), keepAspect);
    TDithering dithering;
    dithering.SourceImg = &picture.image;
    dithering.DitherWidth = dots.width();
    dithering.DitherHeight = dots.height();
    dithering.Gamma = gamma;
    dithering.Execute();
    if (dithering.DitherImg.isNull()) {
        err(QStringLiteral("lapidograph-cli: ")
            + (dithering.lastError().isEmpty() ? QStringLiteral("the picture gives no dots") : dithering.lastError()));
        return 1;
    }
    const QString error = saveDotImage(dithering.DitherImg, files.at(1));
    if (!error.isEmpty()) {
        err(QStringLiteral("lapidograph-cli: ") + error);
        return 1;
    }
    return 0;
}

} // namespace lapido::cli
