// Drawing the tool images with QPainter: simple shapes in a few colours.
#include "server/window/tool_images.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace qz::server {
namespace {

void Cylinder(QPainter& p, QRectF r, QColor c) {
  const qreal cap = r.height() / 4;
  QPainterPath body;
  body.moveTo(r.left(), r.top() + cap / 2);
  body.lineTo(r.left(), r.bottom() - cap / 2);
  body.arcTo(QRectF(r.left(), r.bottom() - cap, r.width(), cap), 180, 180);
  body.lineTo(r.right(), r.top() + cap / 2);
  body.closeSubpath();
  p.setPen(QPen(c.darker(160), 1.2));
  p.setBrush(c);
  p.drawPath(body);
  p.setBrush(c.lighter(130));
  p.drawEllipse(QRectF(r.left(), r.top(), r.width(), cap));
}

void Arrow(QPainter& p, QPointF from, QPointF to, QColor c) {
  p.setPen(QPen(c, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawLine(from, to);
  const QPointF d = to - from;
  const qreal len = std::max<qreal>(1, std::hypot(d.x(), d.y()));
  const QPointF u = d / len, n(-u.y(), u.x());
  p.setBrush(c);
  p.setPen(Qt::NoPen);
  p.drawPolygon(QPolygonF({to + u * 4, to - u * 5 + n * 5, to - u * 5 - n * 5}));
}

void Sheet(QPainter& p, QRectF r) {
  p.setPen(QPen(QColor(90, 90, 90), 1.2));
  p.setBrush(QColor(250, 250, 245));
  p.drawRect(r);
  p.setPen(QPen(QColor(150, 150, 150), 1));
  for (qreal y = r.top() + 5; y < r.bottom() - 2; y += 4)
    p.drawLine(QPointF(r.left() + 3, y), QPointF(r.right() - 3, y));
}

void Draw(QPainter& p, int index) {
  const QColor blue(52, 101, 164), green(78, 154, 6), red(204, 0, 0), gold(237, 180, 0);
  switch (index) {
    case 0: {  // sign-in: a key
      p.setPen(QPen(gold.darker(150), 1.5));
      p.setBrush(gold);
      p.drawEllipse(QRectF(3, 9, 14, 14));
      p.setBrush(Qt::white);
      p.drawEllipse(QRectF(7, 13, 6, 6));
      p.setBrush(gold);
      p.drawRect(QRectF(16, 14, 14, 4));
      p.drawRect(QRectF(24, 18, 3, 5));
      p.drawRect(QRectF(19, 18, 3, 4));
      break;
    }
    case 1: {  // settings: a database with a gear wheel
      Cylinder(p, QRectF(3, 3, 18, 24), blue);
      p.setPen(QPen(QColor(80, 80, 80), 1.2));
      p.setBrush(QColor(200, 200, 200));
      for (int i = 0; i < 8; ++i) {
        p.save();
        p.translate(23, 23);
        p.rotate(i * 45);
        p.drawRect(QRectF(-1.5, -9, 3, 4));
        p.restore();
      }
      p.drawEllipse(QPointF(23, 23), 6.5, 6.5);
      p.setBrush(Qt::white);
      p.drawEllipse(QPointF(23, 23), 2.5, 2.5);
      break;
    }
    case 2:  // restore: an arrow back into the database
      Cylinder(p, QRectF(12, 6, 18, 24), blue);
      Arrow(p, QPointF(2, 6), QPointF(14, 16), green);
      break;
    case 3:  // backup: an arrow out of the database
      Cylinder(p, QRectF(2, 2, 18, 24), blue);
      Arrow(p, QPointF(16, 18), QPointF(28, 29), green);
      break;
    case 4:  // export: a sheet with an arrow leaving it
      Sheet(p, QRectF(3, 3, 18, 25));
      Arrow(p, QPointF(12, 20), QPointF(29, 20), blue);
      break;
    case 5:  // import: a sheet with an arrow entering it
      Sheet(p, QRectF(11, 3, 18, 25));
      Arrow(p, QPointF(2, 20), QPointF(19, 20), green);
      break;
    case 6: {  // clean-up: a waste bin
      p.setPen(QPen(QColor(70, 70, 70), 1.2));
      p.setBrush(QColor(180, 180, 180));
      p.drawRect(QRectF(6, 6, 20, 3));
      p.drawRect(QRectF(13, 3, 6, 3));
      QPolygonF bin({QPointF(8, 10), QPointF(24, 10), QPointF(22, 30), QPointF(10, 30)});
      p.setBrush(QColor(210, 210, 210));
      p.drawPolygon(bin);
      for (int x : {12, 16, 20}) p.drawLine(QPointF(x, 13), QPointF(x, 27));
      break;
    }
    case 7: {  // hide and show: a window with its title bar
      p.setPen(QPen(QColor(60, 60, 60), 1.2));
      p.setBrush(Qt::white);
      p.drawRect(QRectF(3, 5, 26, 22));
      p.setBrush(blue);
      p.drawRect(QRectF(3, 5, 26, 6));
      p.setPen(QPen(blue, 3));
      p.drawLine(QPointF(9, 22), QPointF(23, 22));
      break;
    }
    case 8: {  // close: a power symbol
      p.setPen(Qt::NoPen);
      p.setBrush(red);
      p.drawEllipse(QRectF(2, 2, 28, 28));
      p.setPen(QPen(Qt::white, 3, Qt::SolidLine, Qt::RoundCap));
      p.setBrush(Qt::NoBrush);
      p.drawArc(QRectF(9, 9, 14, 14), 120 * 16, 300 * 16);
      p.drawLine(QPointF(16, 7), QPointF(16, 16));
      break;
    }
    default:
      break;
  }
}

}  // namespace

QIcon ToolImage(int index) {
  QPixmap pm(32, 32);
  pm.fill(Qt::transparent);
  QPainter p(&pm);
  p.setRenderHint(QPainter::Antialiasing);
  Draw(p, index);
  p.end();
  return QIcon(pm);
}

QIcon WindowIcon() { return ToolImage(1); }

}  // namespace qz::server
