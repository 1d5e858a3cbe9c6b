// Renders the programs' own icon (the drawing their windows use) into an
// icon theme folder: <folder>/<size>x<size>/apps/<name>.png for every name.
//   fotavi-icon-render <theme folder> <name>...
#include <QDir>
#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include <cstdio>

#include "Common/ThemeIcons.h"

int main(int argc, char* argv[]) {
  QGuiApplication app(argc, argv);
  if (argc < 3) {
    std::fprintf(stderr, "usage: fotavi-icon-render <theme folder> <name>...\n");
    return 2;
  }
  const QString root = QString::fromLocal8Bit(argv[1]);
  for (int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
      QPainter p(&image);
      p.setRenderHint(QPainter::Antialiasing);
      p.scale(size / 32.0, size / 32.0);
      IconDrawings::DocumentCamera(p, QColor(30, 32, 38));
    }
    const QString folder = QStringLiteral("%1/%2x%2/apps").arg(root).arg(size);
    if (!QDir().mkpath(folder)) {
      std::fprintf(stderr, "fotavi-icon-render: cannot make %s\n", qPrintable(folder));
      return 1;
    }
    for (int i = 2; i < argc; ++i) {
      const QString file = folder + QLatin1Char('/') + QString::fromLocal8Bit(argv[i]) + QStringLiteral(".png");
      if (!image.save(file, "PNG")) {
        std::fprintf(stderr, "fotavi-icon-render: cannot write %s\n", qPrintable(file));
        return 1;
      }
    }
  }
  return 0;
}
