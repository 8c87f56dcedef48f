// An https://localhost front for a loopback test server: a small program
// outside Wine (tests/fixtures/tls-relay.py, the host's python3 and its TLS)
// that ends TLS with a certificate of the test set-up and passes each request
// on to the plain server, so that a download through the system's TLS can be
// tested for real.
#pragma once

#include <string>

namespace fwtest
{
class TlsRelay
{
public:
    TlsRelay();
    ~TlsRelay(); // tells the relay to stop

    // Listens in front of the plain server on targetPort. trusted: a
    // certificate for "localhost" issued by the test authority (trusted while
    // a test has added it to the root store); otherwise a self-signed one that
    // no one trusts.
    bool Start(unsigned short targetPort, bool trusted);
    unsigned short Port() const { return m_port; }

private:
    std::string m_folder;
    unsigned short m_port;
};
} // namespace fwtest
