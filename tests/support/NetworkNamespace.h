#pragma once

#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <string>
#include <unistd.h>

namespace kestrel::test {

// Runs an `ip` command, its output discarded; true when it succeeded.
inline bool RunIp(const std::string& arguments)
{
    return std::system(("ip " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// A network namespace of the test's own, named after the test process so
// that tests running side by side never meet, with its loopback up; removed
// with everything in it when the object goes. Sockets made Within it stay
// in it.
class CNetworkNamespace {
public:
    explicit CNetworkNamespace(const std::string& role)
        : m_name("kestrel-" + role + "-" + std::to_string(::getpid()))
    {
        RunIp("netns del " + m_name);
        if (!RunIp("netns add " + m_name))
            return;
        m_descriptor = ::open(("/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
        m_made = m_descriptor >= 0 && RunIp("-n " + m_name + " link set lo up");
    }
    ~CNetworkNamespace()
    {
        if (m_descriptor >= 0)
            ::close(m_descriptor);
        RunIp("netns del " + m_name);
    }
    CNetworkNamespace(const CNetworkNamespace&) = delete;
    CNetworkNamespace& operator=(const CNetworkNamespace&) = delete;

    bool IsMade() const { return m_made; }
    const std::string& Name() const { return m_name; }

    // Runs `work` on this thread inside the namespace and comes back; false
    // when the thread could not enter or return.
    template <class Work>
    bool Within(Work&& work) const
    {
        const int home = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
        if (home < 0)
            return false;
        const bool entered = ::setns(m_descriptor, CLONE_NEWNET) == 0;
        if (entered)
            work();
        const bool back = ::setns(home, CLONE_NEWNET) == 0;
        ::close(home);
        return entered && back;
    }

    // `ip` arguments run inside the namespace.
    bool Ip(const std::string& arguments) const { return RunIp("-n " + m_name + " " + arguments); }

    // A card here and its peer card in `other`, joined by a veth pair, both
    // up and without addresses.
    bool LinkTo(const std::string& card, const CNetworkNamespace& other, const std::string& otherCard) const
    {
        return Ip("link add " + card + " type veth peer name " + otherCard + " netns " + other.m_name)
            && Ip("link set " + card + " up") && other.Ip("link set " + otherCard + " up");
    }

    // Gives `card` an address such as "10.12.1.2/24", with its subnet's
    // broadcast address.
    bool AddAddress(const std::string& card, const std::string& addressAndPrefix) const
    {
        return Ip("addr add " + addressAndPrefix + " broadcast + dev " + card);
    }

private:
    std::string m_name;
    int m_descriptor = -1;
    bool m_made = false;
};

} // namespace kestrel::test
