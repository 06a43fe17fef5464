#include "sha256.h"

#include <openssl/evp.h>

Sha256::Sha256() : m_context(EVP_MD_CTX_new())
{
    EVP_DigestInit_ex(m_context, EVP_sha256(), nullptr);
}

Sha256::~Sha256()
{
    EVP_MD_CTX_free(m_context);
}

void Sha256::addData(const char *data, size_t size)
{
    EVP_DigestUpdate(m_context, data, size);
}

QByteArray Sha256::result()
{
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_DigestFinal_ex(m_context, digest, &size);
    return QByteArray(reinterpret_cast<const char *>(digest), int(size));
}
