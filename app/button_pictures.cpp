#include "button_pictures.h"

#include <QPainter>
#include <QPixmap>
#include <QSvgRenderer>

QIcon Button_Picture(const QString& Name, int Size) {
    // The pictures live in a static library, whose resources are not registered by themselves.
    Q_INIT_RESOURCE(icons);
    QSvgRenderer Renderer(QStringLiteral(":/icons/%1.svg").arg(Name));
    if (!Renderer.isValid()) return {};
    QIcon Icon;
    for (int Scale : {1, 2}) {
        QPixmap Picture(Size * Scale, Size * Scale);
        Picture.fill(Qt::transparent);
        QPainter Painter(&Picture);
        Painter.setRenderHint(QPainter::Antialiasing);
        Renderer.render(&Painter);
        Painter.end();
        Picture.setDevicePixelRatio(Scale);
        Icon.addPixmap(Picture);
    }
    return Icon;
}
