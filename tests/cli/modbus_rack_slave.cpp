// A Modbus RTU slave on libmodbus, none of the virtual pack's code: it
// serves the given addresses on one pseudo-terminal, each with its own
// registers, so that the bus commands can be held against an implementation
// of the protocol that is not ours. Prints the terminal's path, then serves
// functions 3 and 4 until stdin closes or a signal ends it.
//   modbus_rack_slave ADDRESS...
//
// libmodbus's receive keeps only the requests for the one address its
// context is set to, so the requests are framed here (8 bytes for a read)
// and each is answered by modbus_reply with the addressed pack's registers.
#include <modbus.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <poll.h>
#include <string>
#include <termios.h>
#include <unistd.h>

namespace {

uint16_t Crc(const uint8_t* data, size_t n)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
        crc ^= data[i];
        for (int b = 0; b < 8; ++b)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

// Text of `bytes` characters from register `start` on, two a register, the
// first in the high byte.
void PutText(uint16_t* regs, int start, const std::string& text, size_t bytes)
{
    std::string t = text.substr(0, bytes);
    t.resize(bytes, '\0');
    for (size_t i = 0; i < bytes; i += 2)
        regs[start + int(i / 2)] = uint16_t(uint8_t(t[i]) << 8 | uint8_t(i + 1 < bytes ? t[i + 1] : 0));
}

// The registers of the pack at `a`: values that differ from pack to pack.
void Fill(uint16_t* r, int a)
{
    r[0x000A] = 0x0101;         // protocol 1.1
    r[0x000B] = 0x1053;         // software 1.5.3
    r[0x000C] = 0x2010;         // hardware 2.1.0
    r[0x0010] = 1000;                  // design capacity, 10 mAh
    r[0x0011] = uint16_t(98000 >> 16); // full charge capacity, mAh
    r[0x0012] = uint16_t(98000 & 0xFFFF);
    const int32_t current = -1500 * a;
    r[0x0015] = uint16_t(uint32_t(current) >> 16);
    r[0x0016] = uint16_t(current);
    r[0x0017] = uint16_t(5200 + a);      // 10 mV
    r[0x0018] = uint16_t(400 + 25 * a);  // 0.1 %
    r[0x001A] = uint16_t(39000 + a);     // remaining, mAh
    r[0x001B] = uint16_t(30 + a);        // cycles
    r[0x001C] = uint16_t(2981 + a);      // 0.1 K
    r[0x001D] = uint16_t(3290 + 7 * a + 15); // highest and lowest cell, mV
    r[0x001E] = uint16_t(3290 + 7 * a);
    r[0x001F] = uint16_t(2990 + 3 * a + 3);  // highest and lowest cell sensor
    r[0x0020] = uint16_t(2990 + 3 * a);
    r[0x0025] = uint16_t(3010 + a + 1);      // highest MOS sensor
    r[0x0080] = uint16_t(a % 2 ? 1 << 6 : 0);
    r[0x0100] = 0x0013;
    r[0x0200] = 0x0003;
    r[0x0201] = 0x0001;
    r[0x0203] = 98;
    r[0x0204] = 0x0204; // 2 MOS sensors, 4 cell sensors
    r[0x0205] = 16;
    for (int i = 0; i < 4; ++i)
        r[0x0400 + i] = uint16_t(2990 + 3 * a + i);
    for (int i = 0; i < 2; ++i)
        r[0x0480 + i] = uint16_t(3010 + a + i);
    for (int i = 0; i < 16; ++i)
        r[0x0500 + i] = uint16_t(3290 + 7 * a + i);
    r[0x9D03] = 0;
    r[0x9D04] = 1000;
    char text[32];
    std::snprintf(text, sizeof text, "MBRACK%06d", a);
    PutText(r, 0x9D05, text, 12);
    PutText(r, 0x9D0B, "LIBMODBS", 8);
    std::snprintf(text, sizeof text, "LM-SLAVE-%04d", a);
    PutText(r, 0x9D0F, text, 20);
    r[0x9D1E] = 0x0001;
    for (int i = 0; i < 6; ++i)
        r[0x9D1F + i] = uint16_t(0xA000 + a * 16 + i);
}

int OpenTerminal(std::string& path)
{
    const int fd = posix_openpt(O_RDWR | O_NOCTTY);
    if (fd < 0 || grantpt(fd) != 0 || unlockpt(fd) != 0)
        return -1;
    termios t{};
    tcgetattr(fd, &t);
    cfmakeraw(&t);
    tcsetattr(fd, TCSANOW, &t);
    path = ptsname(fd);
    return fd;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: modbus_rack_slave ADDRESS...\n");
        return 2;
    }
    std::map<int, modbus_mapping_t*> packs;
    for (int i = 1; i < argc; ++i) {
        const int a = std::atoi(argv[i]);
        if (a < 1 || a > 247) {
            std::fprintf(stderr, "not an address: %s\n", argv[i]);
            return 2;
        }
        modbus_mapping_t* m = modbus_mapping_new(0, 0, 0x10000, 0x10000);
        Fill(m->tab_registers, a);
        std::memcpy(m->tab_input_registers, m->tab_registers, 0x10000 * sizeof(uint16_t));
        packs[a] = m;
    }
    std::string path;
    const int fd = OpenTerminal(path);
    if (fd < 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    // The slave side held open too, so that the master may close and reopen it.
    const int keep = open(path.c_str(), O_RDWR | O_NOCTTY);
    std::printf("%s\n", path.c_str());
    std::fflush(stdout);

    modbus_t* ctx = modbus_new_rtu(path.c_str(), 19200, 'N', 8, 1);
    modbus_set_socket(ctx, fd);

    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    size_t have = 0;
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {STDIN_FILENO, POLLIN, 0}};
        // A frame ends with the line's silence; a piece without an end is dropped.
        const int n = poll(fds, 2, have ? 20 : -1);
        if (n < 0 && errno != EINTR)
            break;
        if (fds[1].revents & (POLLIN | POLLHUP)) {
            char c;
            if (read(STDIN_FILENO, &c, 1) <= 0)
                break;
        }
        if (n == 0) {
            have = 0;
            continue;
        }
        if (!(fds[0].revents & POLLIN))
            continue;
        const ssize_t got = read(fd, request + have, sizeof request - have);
        if (got <= 0)
            continue;
        have += size_t(got);
        if (have < 8)
            continue;
        const int function = request[1];
        if ((function != 3 && function != 4) || Crc(request, 6) != uint16_t(request[6] | request[7] << 8)) {
            have = 0; // not ours to answer
            continue;
        }
        const auto pack = packs.find(request[0]);
        if (pack != packs.end()) {
            modbus_set_slave(ctx, request[0]);
            modbus_reply(ctx, request, 8, pack->second);
        }
        have -= 8;
        std::memmove(request, request + 8, have);
    }
    close(keep);
    modbus_free(ctx);
    for (auto& p : packs)
        modbus_mapping_free(p.second);
    return 0;
}
