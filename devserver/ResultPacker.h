#pragma once

#include <QObject>
#include <QProcess>
#include <QStringList>

namespace DevServer {

// Packs a finished job's files into its result zip with the external 7z,
// asynchronously: the server keeps serving while the archiver runs. Deleting
// the packer stops a running archiver.
class ResultPacker final : public QObject
{
    Q_OBJECT

public:
    explicit ResultPacker(QObject *parent = nullptr);
    ~ResultPacker() override;

    // inputs and resultName are relative to workingDirectory.
    void start(const QString &workingDirectory, const QString &resultName,
               const QStringList &inputs);

signals:
    void finished(bool ok, const QString &error);

private:
    void onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onProcessError(QProcess::ProcessError error);

    QProcess m_process;
    QString m_resultPath;
};

} // namespace DevServer
