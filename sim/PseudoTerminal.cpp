#include "PseudoTerminal.h"

#include "RuntimePorts.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <stdexcept>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace bms::sim {

namespace {

std::runtime_error SystemError(const std::string& what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

std::string ReadLink(const std::string& path)
{
    char buffer[4096];
    const ssize_t n = readlink(path.c_str(), buffer, sizeof buffer - 1);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

} // namespace

PseudoTerminal::~PseudoTerminal()
{
    close();
}

void PseudoTerminal::open()
{
    close();
    master_ = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master_ < 0)
        throw SystemError("posix_openpt");
    char name[256];
    if (grantpt(master_) != 0 || unlockpt(master_) != 0 || ptsname_r(master_, name, sizeof name) != 0) {
        const auto error = SystemError("pseudo-terminal setup");
        close();
        throw error;
    }
    slavePath_ = name;
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (slave_ < 0) {
        const auto error = SystemError("open " + slavePath_);
        close();
        throw error;
    }
    termios tio{};
    if (tcgetattr(slave_, &tio) == 0) {
        cfmakeraw(&tio);
        cfsetispeed(&tio, B19200);
        cfsetospeed(&tio, B19200);
        tcsetattr(slave_, TCSANOW, &tio);
    }
    const int flags = fcntl(master_, F_GETFL);
    fcntl(master_, F_SETFL, flags | O_NONBLOCK);
}

void PseudoTerminal::close()
{
    unpublish();
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
    slavePath_.clear();
}

std::string PseudoTerminal::publish(const std::string& name)
{
    if (slavePath_.empty())
        return {};
    const std::string dir = RuntimePortDir();
    if (mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST)
        return {};
    struct stat st{};
    if (lstat(dir.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != getuid())
        return {};
    const std::string link = dir + "/virtual-pack-" + name;
    // Link under a temporary name, then rename over any older link: the
    // name never points nowhere while a pack is running.
    const std::string temp = dir + "/.new-" + std::to_string(getpid()) + "-" + name;
    ::unlink(temp.c_str());
    if (symlink(slavePath_.c_str(), temp.c_str()) != 0)
        return {};
    if (std::rename(temp.c_str(), link.c_str()) != 0) {
        ::unlink(temp.c_str());
        return {};
    }
    link_ = link;
    return link_;
}

void PseudoTerminal::unpublish()
{
    if (link_.empty())
        return;
    if (ReadLink(link_) == slavePath_)
        ::unlink(link_.c_str());
    link_.clear();
}

} // namespace bms::sim
