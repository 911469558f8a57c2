#include "DialogHelper.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QTest>

DialogHelper::DialogHelper(QObject *parent)
    : QObject(parent)
{
    connect(&m_timer, &QTimer::timeout, this, &DialogHelper::poll);
    m_timer.start(10);
}

bool DialogHelper::waitForBoxes(int count, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (boxes.size() < count && timer.elapsed() < timeoutMs)
        QTest::qWait(5);
    return boxes.size() >= count;
}

QStringList DialogHelper::boxTitles() const
{
    QStringList titles;
    for (const Box &box : boxes)
        titles.append(box.title);
    return titles;
}

QStringList DialogHelper::boxTexts(const QWidget *parent) const
{
    QStringList texts;
    for (const Box &box : boxes)
        if (!parent || box.parent == parent)
            texts.append(box.title + QStringLiteral(": ") + box.text);
    return texts;
}

void DialogHelper::clear()
{
    boxes.clear();
    fileDialogs.clear();
}

void DialogHelper::poll()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;

    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        if (m_recordedBox != box) {
            m_recordedBox = box;
            boxes.append({ box->icon(), box->windowTitle(), box->text(), box->parentWidget() });
        }
        if (m_holdBoxes)
            return;
        for (QMessageBox::StandardButton answer : { QMessageBox::Yes, QMessageBox::Ok }) {
            if (QAbstractButton *button = box->button(answer)) {
                button->click();
                return;
            }
        }
        box->reject();
        return;
    }

    if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        if (m_answeredDialog == dialog)
            return;
        m_answeredDialog = dialog;
        fileDialogs.append({ dialog->windowTitle(), dialog->directory().absolutePath(),
                             dialog->selectedFiles(), dialog->nameFilters(),
                             dialog->acceptMode() == QFileDialog::AcceptSave });
        const QString answer = m_fileAnswers.isEmpty() ? QString() : m_fileAnswers.dequeue();
        if (answer.isEmpty()) {
            dialog->reject();
        } else {
            // The dialog leaves a file name field that has the focus alone, as
            // if the user were typing, so an activated dialog would keep it empty.
            if (QWidget *focused = dialog->focusWidget())
                focused->clearFocus();
            dialog->selectFile(answer);
            // Accepted from the event loop rather than from here: accepting may
            // ask before replacing a file, and that box must find this timer free.
            QTimer::singleShot(0, dialog, [dialog] {
                static_cast<QDialog *>(dialog)->accept(); // QFileDialog hides its override
            });
        }
    }
}

char *toString(const DialogHelper::Box &box)
{
    return QTest::toString(
        QStringLiteral("[%1] %2: %3").arg(int(box.icon)).arg(box.title, box.text));
}
