#include "QNSHeaderSheetView.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QMimeData>
#include <QPainter>
#include <QUrl>

QNSHeaderSheetView::QNSHeaderSheetView(QWidget *parent) : QWidget(parent)
{
    setAcceptDrops(true);
}

QStringList QNSHeaderSheetView::filePaths(const QMimeData *mime)
{
    QStringList paths;
    if (!mime || !mime->hasUrls())
        return paths;
    for (const QUrl &url : mime->urls()) {
        if (url.isLocalFile())
            paths.append(url.toLocalFile());
    }
    return paths;
}

QString QNSHeaderSheetView::pathExtension(const QString &path)
{
    QString name = path;
    // A folder's URL may end in a slash; its name is still the last component.
    while (name.size() > 1 && name.endsWith(QLatin1Char('/')))
        name.chop(1);
    name = name.mid(name.lastIndexOf(QLatin1Char('/')) + 1);
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1);
}

void QNSHeaderSheetView::paintEvent(QPaintEvent *event)
{
    QWidget::paintEvent(event);
    // The whole band at every paint, whatever part was asked for, so a resize
    // never leaves a stale strip behind.
    QPainter painter(this);
    painter.fillRect(QRect(0, 0, width(), kBandHeight), bandColor());
}

void QNSHeaderSheetView::dragEnterEvent(QDragEnterEvent *event)
{
    const QStringList paths = filePaths(event->mimeData());
    if (paths.isEmpty()) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    // Only the first file decides; the others are ignored.
    const QString first = paths.first();
    if (pathExtension(first).toLower() == QLatin1String("volpack")) {
        emit fileDropped(first);
        event->setDropAction(Qt::CopyAction);
        event->accept();
        return;
    }
    event->ignore();
}

void QNSHeaderSheetView::dropEvent(QDropEvent *event)
{
    const QStringList paths = filePaths(event->mimeData());
    if (!paths.isEmpty())
        emit fileDropped(paths.first());
    event->setDropAction(Qt::CopyAction);
    event->accept();
}
