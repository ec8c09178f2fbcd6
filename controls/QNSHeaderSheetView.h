#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

class QMimeData;

// Paints the blue band across the top of the main window and accepts files
// dragged onto it. A dragged ".volpack" file is announced on entry, and any
// dropped file again on drop; nothing else about the drag is kept.
class QNSHeaderSheetView : public QWidget {
    Q_OBJECT
public:
    static constexpr int kBandHeight = 70;
    static QColor bandColor() { return QColor(0x38, 0x89, 0xE9); }
    // Name of the notice, for anyone who routes it further by name.
    static constexpr const char *kFileDroppedNotification = "QNSFileDropped";

    explicit QNSHeaderSheetView(QWidget *parent = nullptr);

    // The full local paths a drag carries, in order; empty when it carries no files.
    static QStringList filePaths(const QMimeData *mime);
    // Text after the last dot of the last path component; empty when there is none.
    static QString pathExtension(const QString &path);

signals:
    // The "QNSFileDropped" notice; `path` is the first dragged file.
    void fileDropped(const QString &path);

protected:
    void paintEvent(QPaintEvent *event) override;
    void dragEnterEvent(QDragEnterEvent *event) override;
    void dropEvent(QDropEvent *event) override;
};
