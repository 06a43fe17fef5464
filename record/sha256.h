#pragma once

#include <QByteArray>

#include <cstddef>

typedef struct evp_md_ctx_st EVP_MD_CTX;

// SHA-256 through OpenSSL's libcrypto, which uses the processor's SHA
// instructions where there are any: the journal hashes every sample once an
// hour, and its check hashes the whole file. The digest is the standard one
// (the same as QCryptographicHash::Sha256 or sha256sum give).
class Sha256
{
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256 &) = delete;
    Sha256 &operator=(const Sha256 &) = delete;

    void addData(const char *data, size_t size);
    void addData(const QByteArray &data) { addData(data.constData(), size_t(data.size())); }
    // The 32 bytes of the digest; the object is spent afterwards.
    QByteArray result();

private:
    EVP_MD_CTX *m_context;
};
