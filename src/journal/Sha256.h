#pragma once

#include <QByteArray>
#include <QtGlobal>

class QIODevice;
// The cryptography library's hashing state (EVP_MD_CTX).
struct evp_md_ctx_st;

namespace VLK {

// The SHA-256 of a stream of bytes, by the system's cryptography library:
// every stored result is hashed as it arrives, and results of tens of
// gigabytes are common, so the processor's own SHA instructions matter (a
// hash computed without them takes more time than the download).
class Sha256 final
{
public:
    Sha256();
    ~Sha256();
    Q_DISABLE_COPY(Sha256)

    // Starts a new hash.
    void reset();
    void addData(const char *data, qint64 size);
    // Hashes what device holds from its position on. False on a read error.
    bool addData(QIODevice &device);
    // The 32 bytes of the hash of all that was added since the start.
    QByteArray result();

private:
    evp_md_ctx_st *const m_digest;
};

} // namespace VLK
