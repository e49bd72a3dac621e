#pragma once

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

namespace kestrel {

// A certificate authority of the test's own, made with the openssl tool in
// `folder`, and a server certificate it signed for 127.0.0.1 and localhost;
// a second, unknown authority signs nothing the bundle trusts.
//   ca.pem     the authority (the bundle the check is pointed at)
//   server.pem / server.key   the server's certificate (PEM) and key
//   server.der the server's certificate as DER, as the engine reports it
//   other.der  a server certificate signed by the unknown authority
//   client.der a certificate of the school's authority for client
//              authentication only (extendedKeyUsage clientAuth)
class TestCertificates {
public:
    explicit TestCertificates(const std::string& folder)
        : m_folder(folder)
    {
        made = Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Kestrel-Test-School-CA"
                   " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign"
                   " -keyout ca.key -out ca.pem") &&
            Signed("server", "ca") && Signed("client", "ca", "clientAuth") &&
            Run("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=Unknown-CA"
                " -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign"
                " -keyout other-ca.key -out other-ca.pem") &&
            Signed("other", "other-ca");
    }

    std::string Path(const std::string& name) const { return m_folder + "/" + name; }
    std::string Bytes(const std::string& name) const
    {
        std::ifstream file(Path(name), std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    }

    bool made = false;

private:
    bool Run(const std::string& command) const
    {
        return std::system(("cd '" + m_folder + "' && " + command + " >/dev/null 2>&1").c_str()) == 0;
    }
    bool Write(const std::string& name, const std::string& text) const
    {
        std::ofstream file(Path(name), std::ios::binary);
        return bool(file << text);
    }
    bool Signed(const std::string& name, const std::string& authority, const std::string& use = "serverAuth") const
    {
        return Run("openssl req -newkey rsa:2048 -nodes -subj /CN=127.0.0.1 -keyout " + name + ".key -out " + name +
                   ".csr") &&
            Write(name + ".ext", "subjectAltName=IP:127.0.0.1,DNS:localhost\nextendedKeyUsage=" + use + "\n") &&
            Run("openssl x509 -req -in " + name + ".csr -CA " + authority + ".pem -CAkey " + authority +
                ".key -CAcreateserial -days 2 -extfile " + name + ".ext -out " + name + ".pem") &&
            Run("openssl x509 -in " + name + ".pem -outform DER -out " + name + ".der");
    }

    std::string m_folder;
};

} // namespace kestrel
