#include "Common/ThemeIcons.h"

#include <QApplication>
#include <QDir>
#include <QIconEngine>
#include <QImage>
#include <QPainterPath>
#include <QPalette>

QPen IconPen(const QColor& c, qreal width) { return QPen(c, width, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin); }

QIcon DrawnIcon(const IconDrawing& draw) {
  QIcon icon;
  const QColor ink = QApplication::palette().color(QPalette::WindowText);
  for (int size : {16, 22, 24, 32, 48, 64}) {
    QPixmap pm(size, size);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(size / 32.0, size / 32.0);
    draw(p, ink);
    p.end();
    icon.addPixmap(pm);
  }
  return icon;
}

QIcon ThemeOrDrawnIcon(const char* themeName, const IconDrawing& draw) {
  if (themeName && QIcon::hasThemeIcon(QLatin1String(themeName))) return QIcon::fromTheme(QLatin1String(themeName));
  return DrawnIcon(draw);
}

QPixmap DisabledLook(const QPixmap& normal) {
  QImage image = normal.toImage().convertToFormat(QImage::Format_ARGB32);
  for (int y = 0; y < image.height(); ++y) {
    QRgb* line = reinterpret_cast<QRgb*>(image.scanLine(y));
    for (int x = 0; x < image.width(); ++x) {
      const QRgb c = line[x];
      // Grey, lightened towards the bar and mostly transparent.
      const int grey = 96 + qGray(c) * 5 / 8;
      line[x] = qRgba(grey, grey, grey, qAlpha(c) * 3 / 10);
    }
  }
  QPixmap faded = QPixmap::fromImage(image);
  faded.setDevicePixelRatio(normal.devicePixelRatio());
  return faded;
}

namespace {
class CDistinctStatesEngine : public QIconEngine {
 public:
  explicit CDistinctStatesEngine(const QIcon& base) : m_Base(base) {}
  void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override {
    const qreal ratio = painter->device() ? painter->device()->devicePixelRatioF() : 1.0;
    painter->drawPixmap(rect, scaledPixmap(rect.size(), mode, state, ratio));
  }
  QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override {
    return scaledPixmap(size, mode, state, 1.0);
  }
  QPixmap scaledPixmap(const QSize& size, QIcon::Mode mode, QIcon::State state, qreal scale) override {
    if (mode != QIcon::Disabled) return m_Base.pixmap(size, scale, mode, state);
    return DisabledLook(m_Base.pixmap(size, scale, QIcon::Normal, state));
  }
  QSize actualSize(const QSize& size, QIcon::Mode, QIcon::State state) override {
    return m_Base.actualSize(size, QIcon::Normal, state);
  }
  QList<QSize> availableSizes(QIcon::Mode, QIcon::State state) override {
    return m_Base.availableSizes(QIcon::Normal, state);
  }
  QString iconName() override { return m_Base.name(); }
  bool isNull() override { return m_Base.isNull(); }
  QString key() const override { return QStringLiteral("CDistinctStatesEngine"); }
  QIconEngine* clone() const override { return new CDistinctStatesEngine(m_Base); }

 private:
  QIcon m_Base;
};
}  // namespace

QIcon WithDistinctDisabledLook(const QIcon& icon) {
  if (icon.isNull()) return icon;
  return QIcon(new CDistinctStatesEngine(icon));
}

void SetUpIconTheme() {
  QStringList paths = QIcon::themeSearchPaths();
  QString dataDirs = qEnvironmentVariable("XDG_DATA_DIRS");
  if (dataDirs.isEmpty()) dataDirs = QStringLiteral("/usr/local/share:/usr/share");
  QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
  if (dataHome.isEmpty()) dataHome = QDir::homePath() + QStringLiteral("/.local/share");
  for (const QString& dir : QStringList{dataHome} + dataDirs.split(':', Qt::SkipEmptyParts)) {
    const QString icons = dir + QStringLiteral("/icons");
    if (!paths.contains(icons) && QDir(icons).exists()) paths << icons;
  }
  QIcon::setThemeSearchPaths(paths);
  const QString theme = QIcon::themeName();
  if (theme.isEmpty() || theme == QLatin1String("hicolor")) QIcon::setThemeName(QStringLiteral("Adwaita"));
  else QIcon::setFallbackThemeName(QStringLiteral("Adwaita"));
}

namespace IconDrawings {

void Remote(QPainter& p, const QColor& ink) {
  p.setPen(IconPen(ink, 1.8));
  p.setBrush(QColor(70, 76, 88));
  p.drawRoundedRect(QRectF(9, 2, 14, 28), 4, 4);
  p.setPen(Qt::NoPen);
  p.setBrush(QColor(232, 150, 60));
  p.drawEllipse(QPointF(16, 8), 2.6, 2.6);
  p.setBrush(QColor(225, 228, 235));
  for (int row = 0; row < 3; ++row)
    for (int col = 0; col < 2; ++col) p.drawEllipse(QPointF(13 + col * 6, 15 + row * 5), 1.7, 1.7);
}

void Stop(QPainter& p, const QColor& ink) {
  p.setPen(IconPen(ink, 1.5));
  p.setBrush(QColor(200, 60, 50));
  p.drawRoundedRect(QRectF(7, 7, 18, 18), 2, 2);
}

void Start(QPainter& p, const QColor& ink) {
  p.setPen(IconPen(ink, 1.5));
  p.setBrush(QColor(60, 160, 70));
  QPolygonF play;
  play << QPointF(9, 6) << QPointF(26, 16) << QPointF(9, 26);
  p.drawPolygon(play);
}

void Folder(QPainter& p, const QColor& ink) {
  p.setPen(IconPen(ink, 1.6));
  p.setBrush(QColor(235, 195, 90));
  QPolygonF f;
  f << QPointF(3, 8) << QPointF(12, 8) << QPointF(14, 11) << QPointF(29, 11) << QPointF(29, 26) << QPointF(3, 26);
  p.drawPolygon(f);
}

// The program: a document camera, its head on an arm over a base.
void DocumentCamera(QPainter& p, const QColor&) {
  const QColor body(60, 66, 78);
  p.setPen(QPen(QColor(30, 32, 38), 1.2));
  p.setBrush(QColor(220, 224, 232));
  p.drawRoundedRect(QRectF(2, 24, 28, 6), 2, 2);         // base with a sheet on it
  p.setBrush(QColor(255, 255, 255));
  p.drawRect(QRectF(12, 25, 12, 3));
  p.setPen(QPen(body, 3, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(6, 25), QPointF(9, 9));               // arm
  p.drawLine(QPointF(9, 9), QPointF(18, 6));
  p.setPen(QPen(QColor(30, 32, 38), 1.2));
  p.setBrush(body);
  p.drawRoundedRect(QRectF(15, 3, 13, 8), 2, 2);          // head
  p.setBrush(QColor(90, 150, 230));
  p.drawEllipse(QPointF(22, 11.5), 3, 2);                  // lens, looking down
}

}  // namespace IconDrawings
