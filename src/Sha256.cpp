#include "Sha256.h"

#include <windows.h>
#include <wincrypt.h>

#include <string.h>

#include <vector>

#ifndef PROV_RSA_AES
#define PROV_RSA_AES 24
#endif
#ifndef CALG_SHA_256
#define CALG_SHA_256 0x0000800c
#endif

namespace
{
const unsigned int K[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

const size_t READ_CHUNK = 64 * 1024;

inline unsigned int Rotate(unsigned int x, int n)
{
    return (x >> n) | (x << (32 - n));
}

typedef BOOL(WINAPI* AcquireFn)(HCRYPTPROV*, LPCSTR, LPCSTR, DWORD, DWORD);
typedef BOOL(WINAPI* ReleaseFn)(HCRYPTPROV, DWORD);
typedef BOOL(WINAPI* CreateHashFn)(HCRYPTPROV, ALG_ID, HCRYPTKEY, DWORD, HCRYPTHASH*);
typedef BOOL(WINAPI* HashDataFn)(HCRYPTHASH, const BYTE*, DWORD, DWORD);
typedef BOOL(WINAPI* GetHashParamFn)(HCRYPTHASH, DWORD, BYTE*, DWORD*, DWORD);
typedef BOOL(WINAPI* DestroyHashFn)(HCRYPTHASH);

// The provider's hash, or false when the system has no SHA-256 provider
// (Windows 95 to XP SP2) or it fails; the caller then uses our own code.
// advapi32 is imported, so it is loaded already; its CryptoAPI functions are
// looked up because the first Windows 95 lacks them.
bool SystemHash(HANDLE file, unsigned char digest[SHA256_SIZE], bool& readFailed)
{
    readFailed = false;
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    if (advapi == NULL)
        return false;
    AcquireFn acquire = (AcquireFn)(void*)GetProcAddress(advapi, "CryptAcquireContextA");
    ReleaseFn release = (ReleaseFn)(void*)GetProcAddress(advapi, "CryptReleaseContext");
    CreateHashFn createHash = (CreateHashFn)(void*)GetProcAddress(advapi, "CryptCreateHash");
    HashDataFn hashData = (HashDataFn)(void*)GetProcAddress(advapi, "CryptHashData");
    GetHashParamFn getParam = (GetHashParamFn)(void*)GetProcAddress(advapi, "CryptGetHashParam");
    DestroyHashFn destroyHash = (DestroyHashFn)(void*)GetProcAddress(advapi, "CryptDestroyHash");
    if (!acquire || !release || !createHash || !hashData || !getParam || !destroyHash)
        return false;
    HCRYPTPROV provider = 0;
    if (!acquire(&provider, NULL, NULL, PROV_RSA_AES, CRYPT_VERIFYCONTEXT))
        return false;
    bool done = false;
    HCRYPTHASH hash = 0;
    if (createHash(provider, CALG_SHA_256, 0, 0, &hash))
    {
        std::vector<unsigned char> chunk(READ_CHUNK);
        bool ok = true;
        for (;;)
        {
            DWORD read = 0;
            if (!ReadFile(file, &chunk[0], READ_CHUNK, &read, NULL))
            {
                readFailed = true;
                ok = false;
                break;
            }
            if (read == 0)
                break;
            if (!hashData(hash, &chunk[0], read, 0))
            {
                ok = false;
                break;
            }
        }
        DWORD size = SHA256_SIZE;
        done = ok && !readFailed && getParam(hash, HP_HASHVAL, digest, &size, 0) && size == SHA256_SIZE;
        destroyHash(hash);
    }
    release(provider, 0);
    return done;
}

bool OwnHash(HANDLE file, unsigned char digest[SHA256_SIZE])
{
    std::vector<unsigned char> chunk(READ_CHUNK);
    CSha256 sha;
    for (;;)
    {
        DWORD read = 0;
        if (!ReadFile(file, &chunk[0], READ_CHUNK, &read, NULL))
            return false;
        if (read == 0)
            break;
        sha.Add(&chunk[0], read);
    }
    sha.Finish(digest);
    return true;
}
} // namespace

CSha256::CSha256() : m_length(0), m_used(0)
{
    static const unsigned int initial[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                                            0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    memcpy(m_state, initial, sizeof(m_state));
    memset(m_buffer, 0, sizeof(m_buffer));
}

void CSha256::Block(const unsigned char* block)
{
    unsigned int w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = (unsigned int)block[4 * i] << 24 | (unsigned int)block[4 * i + 1] << 16 |
               (unsigned int)block[4 * i + 2] << 8 | block[4 * i + 3];
    for (int i = 16; i < 64; ++i)
    {
        unsigned int s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        unsigned int s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    unsigned int a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    unsigned int e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (int i = 0; i < 64; ++i)
    {
        unsigned int t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) + ((e & f) ^ (~e & g)) +
                          K[i] + w[i];
        unsigned int t2 = (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void CSha256::Add(const void* data, size_t length)
{
    const unsigned char* bytes = (const unsigned char*)data;
    m_length += length;
    while (length > 0)
    {
        size_t take = 64 - m_used;
        if (take > length)
            take = length;
        memcpy(m_buffer + m_used, bytes, take);
        m_used += take;
        bytes += take;
        length -= take;
        if (m_used == 64)
        {
            Block(m_buffer);
            m_used = 0;
        }
    }
}

void CSha256::Finish(unsigned char digest[SHA256_SIZE])
{
    unsigned long long bits = m_length * 8;
    unsigned char pad = 0x80;
    Add(&pad, 1);
    pad = 0;
    while (m_used != 56)
        Add(&pad, 1);
    unsigned char length[8];
    for (int i = 0; i < 8; ++i)
        length[i] = (unsigned char)(bits >> (56 - 8 * i));
    Add(length, 8);
    for (int i = 0; i < 8; ++i)
    {
        digest[4 * i] = (unsigned char)(m_state[i] >> 24);
        digest[4 * i + 1] = (unsigned char)(m_state[i] >> 16);
        digest[4 * i + 2] = (unsigned char)(m_state[i] >> 8);
        digest[4 * i + 3] = (unsigned char)m_state[i];
    }
}

void Sha256Text(const unsigned char digest[SHA256_SIZE], char text[SHA256_TEXT_SIZE])
{
    static const char HEX[] = "0123456789abcdef";
    for (int i = 0; i < SHA256_SIZE; ++i)
    {
        text[2 * i] = HEX[digest[i] >> 4];
        text[2 * i + 1] = HEX[digest[i] & 15];
    }
    text[2 * SHA256_SIZE] = 0;
}

Sha256Source Sha256OfFile(const char* path, char text[SHA256_TEXT_SIZE], bool useSystem)
{
    text[0] = 0;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_FLAG_SEQUENTIAL_SCAN, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return SHA256_FAILED;
    unsigned char digest[SHA256_SIZE];
    Sha256Source source = SHA256_FAILED;
    bool readFailed = false;
    if (useSystem && SystemHash(file, digest, readFailed))
        source = SHA256_SYSTEM;
    else if (!readFailed && SetFilePointer(file, 0, NULL, FILE_BEGIN) == 0 && OwnHash(file, digest))
        source = SHA256_OWN;
    CloseHandle(file);
    if (source != SHA256_FAILED)
        Sha256Text(digest, text);
    return source;
}
