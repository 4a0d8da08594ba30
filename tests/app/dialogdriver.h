// Answers the modal dialogs a widget test provokes, drops files, makes
// pictures and records the addresses handed to the desktop.
#ifndef KORVANE_TESTS_DIALOGDRIVER_H
#define KORVANE_TESTS_DIALOGDRIVER_H

#include <QtTest>
#include <QtWidgets>

#include <functional>

namespace KorvaneTest {

// Records the addresses the program asks the desktop to open.
class UrlRecorder : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

// A picture of one colour saved at path (format by suffix); answers the path.
inline QString SavePicture(const QString& path, QSize size, QColor color = QColor(30, 120, 200),
                           QImage::Format format = QImage::Format_RGB32)
{
    QImage image(size, format);
    image.fill(color);
    return image.save(path) ? path : QString();
}

// Runs `answer` on the next modal dialog of type T once it is shown.
template <typename T>
void AnswerNextModal(std::function<void(T*)> answer, int attempts = 200)
{
    QTimer::singleShot(10, [answer, attempts]() {
        T* dialog = qobject_cast<T*>(QApplication::activeModalWidget());
        if (dialog) {
            answer(dialog);
        } else if (attempts > 0) {
            AnswerNextModal<T>(answer, attempts - 1);
        }
    });
}

// Types into the dialog's file name field, as a person would.
inline void TypeFileName(QFileDialog* dialog, const QString& text)
{
    QLineEdit* edit = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
    QVERIFY(edit);
    edit->setText(text);
}

// Chooses files (all in one folder) in the next file dialog; an empty list cancels it.
inline void ChooseFiles(const QStringList& files)
{
    AnswerNextModal<QFileDialog>([files](QFileDialog* dialog) {
        if (files.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(QFileInfo(files.first()).absolutePath());
        QStringList names;
        for (const QString& file : files)
            names << QLatin1Char('"') + QFileInfo(file).fileName() + QLatin1Char('"');
        TypeFileName(dialog, names.join(QLatin1Char(' ')));
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

// Chooses a folder in the next folder dialog; an empty path cancels it.
inline void ChooseFolder(const QString& folder)
{
    AnswerNextModal<QFileDialog>([folder](QFileDialog* dialog) {
        if (folder.isEmpty()) {
            dialog->reject();
            return;
        }
        dialog->setDirectory(folder);
        TypeFileName(dialog, folder);
        QMetaObject::invokeMethod(dialog, "accept");
    });
}

// Drops local files on a widget as a file manager would; answers whether the
// drop was accepted.
inline bool DropFiles(QWidget* target, const QStringList& files)
{
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& file : files)
        urls << QUrl::fromLocalFile(file);
    data.setUrls(urls);
    QDropEvent event(QPointF(5, 5), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    event.ignore();
    // Straight to the widget's event(): the application only routes drops
    // that come from a real drag.
    static_cast<QObject*>(target)->event(&event);
    return event.isAccepted();
}

// Adds files through the file dialog the action (the window's "Add Source(s)") opens.
inline void AddFiles(QAction* addAction, const QStringList& files)
{
    ChooseFiles(files);
    addAction->trigger();
}

} // namespace KorvaneTest

#endif
