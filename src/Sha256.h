// SHA-256 digests of files, for installers fetched from the network: the
// system's cryptographic provider where it offers SHA-256 (the AES provider
// of Windows XP SP3 and later, looked up at run time), our own code on older
// systems.
#ifndef FERNWICK_SHA256_H
#define FERNWICK_SHA256_H

#include <stddef.h>

const int SHA256_SIZE = 32;
const int SHA256_TEXT_SIZE = 65; // 64 hexadecimal digits and the terminator

// Our own implementation, incremental.
class CSha256
{
public:
    CSha256();
    virtual ~CSha256() {}
    void Add(const void* data, size_t length);
    void Finish(unsigned char digest[SHA256_SIZE]);

private:
    void Block(const unsigned char* block);
    unsigned int m_state[8];
    unsigned long long m_length;
    unsigned char m_buffer[64];
    size_t m_used;
};

enum Sha256Source
{
    SHA256_FAILED = 0,   // the file could not be read
    SHA256_SYSTEM = 1,   // the system's provider computed it
    SHA256_OWN = 2       // our own code computed it
};

// Lower-case hexadecimal text of the file's digest. useSystem false skips the
// system's provider (tests compare the two).
Sha256Source Sha256OfFile(const char* path, char text[SHA256_TEXT_SIZE], bool useSystem = true);

// Hexadecimal text of a digest.
void Sha256Text(const unsigned char digest[SHA256_SIZE], char text[SHA256_TEXT_SIZE]);

#endif
