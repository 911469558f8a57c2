#include "journal/Sha256.h"

#include <QIODevice>

#include <openssl/evp.h>

namespace VLK {

Sha256::Sha256()
    : m_digest(EVP_MD_CTX_new())
{
    reset();
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_digest);
}

void Sha256::reset()
{
    EVP_DigestInit_ex(m_digest, EVP_sha256(), nullptr);
}

void Sha256::addData(const char *data, qint64 size)
{
    EVP_DigestUpdate(m_digest, data, size_t(size));
}

bool Sha256::addData(QIODevice &device)
{
    QByteArray block(1 << 20, Qt::Uninitialized);
    qint64 read = 0;
    while ((read = device.read(block.data(), block.size())) > 0)
        addData(block.constData(), read);
    return read == 0;
}

QByteArray Sha256::result()
{
    QByteArray digest(EVP_MAX_MD_SIZE, Qt::Uninitialized);
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_digest, reinterpret_cast<unsigned char *>(digest.data()), &size);
    digest.truncate(int(size));
    reset();
    return digest;
}

} // namespace VLK
