#pragma once

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QPointer>
#include <QQueue>
#include <QStringList>
#include <QTimer>

// Answers the modal dialogs a test provokes. It watches the active modal widget
// from a timer (which keeps firing inside the dialogs' own event loops), records
// every message box and closes it with its affirmative button, and answers file
// dialogs with the paths that the test queued (an empty path cancels).
class DialogHelper : public QObject
{
    Q_OBJECT

public:
    struct Box
    {
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        QString title;
        QString text;
        QPointer<QWidget> parent;
    };

    struct FileDialog
    {
        QString caption;
        QString directory;
        QStringList selectedFiles; // as the dialog opened, before the answer
        QStringList nameFilters;
        bool saving = false;
    };

    explicit DialogHelper(QObject *parent = nullptr);

    // The path the next file dialog answers with; an empty path cancels it.
    void queueFileAnswer(const QString &path) { m_fileAnswers.enqueue(path); }
    // Keeps message boxes open until released, to test what happens meanwhile.
    void holdBoxes(bool hold) { m_holdBoxes = hold; }

    QList<Box> boxes;
    QList<FileDialog> fileDialogs;

    // Waits until at least count boxes have been recorded.
    bool waitForBoxes(int count, int timeoutMs = 5000);
    QStringList boxTitles() const;
    // "title: text" of every box so far, or only of those shown on parent.
    QStringList boxTexts(const QWidget *parent = nullptr) const;
    void clear();

private:
    void poll();

    QTimer m_timer;
    QQueue<QString> m_fileAnswers;
    bool m_holdBoxes = false;
    QPointer<QWidget> m_recordedBox;
    QPointer<QWidget> m_answeredDialog;
};

// Readable values in failed comparisons.
char *toString(const DialogHelper::Box &box);
