#pragma once

#include <QFile>
#include <QObject>
#include <QProcess>
#include <QStringList>

namespace DevServer {

// Packs a finished job's files into its result zip with the external 7z, or
// generates a result of a chosen size, asynchronously: the server keeps
// serving while the archiver runs or the file is written piece by piece.
// Deleting the packer stops either and removes the half-made result.
class ResultPacker final : public QObject
{
    Q_OBJECT

public:
    explicit ResultPacker(QObject *parent = nullptr);
    ~ResultPacker() override;

    // inputs and resultName are relative to workingDirectory.
    void start(const QString &workingDirectory, const QString &resultName,
               const QStringList &inputs);
    // A file of size bytes in which every 8 bytes hold their own offset (big
    // endian, the last word cut short), so that a copy can be checked byte
    // for byte and a shifted or repeated piece does not pass.
    void generate(const QString &workingDirectory, const QString &resultName, qint64 size);

signals:
    void finished(bool ok, const QString &error);

private:
    void onProcessFinished(int exitCode, QProcess::ExitStatus exitStatus);
    void onProcessError(QProcess::ProcessError error);
    void generateMore();

    QProcess m_process;
    QString m_resultPath;
    QFile m_generated;
    qint64 m_toGenerate = 0;
};

} // namespace DevServer
