// The serial port layer on a real terminal device (a pseudo-terminal): the
// line settings read back from the device, the ways an open fails, and a
// line lost under the tool.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <termios.h>
#include <poll.h>
#include <unistd.h>

#include "device_port.hpp"
#include "files.hpp"
#include "support.hpp"

using namespace torvela;

namespace {

// Both ends of a pseudo-terminal; the tool opens `name`.
struct terminal {
    int master = -1;
    std::string name;
    terminal() {
        master = posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && grantpt(master) == 0 && unlockpt(master) == 0) name = ptsname(master);
    }
    ~terminal() {
        if (master >= 0) close(master);
    }
};

// A ports folder of the test's own, as $XDG_CONFIG_HOME/torvela/ports.
std::filesystem::path own_ports_folder(const private_work_folder& dir) {
    setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
    const std::filesystem::path ports = std::filesystem::path(dir.path()) / "torvela" / "ports";
    std::filesystem::create_directories(ports);
    return ports;
}

}  // namespace

TEST(DevicePort, OpensRaw57600EightNoneOneWithoutFlowControl) {
    terminal t;
    ASSERT_FALSE(t.name.empty());
    device_port port;
    port.device_override = t.name;
    ASSERT_TRUE(port.PortOpen(true)) << port.last_error();
    // The terminal's settings, read from the other end (a second open of
    // the device is refused: the port holds it exclusively).
    termios s{};
    ASSERT_EQ(tcgetattr(t.master, &s), 0);
    EXPECT_EQ(cfgetispeed(&s), B57600);
    EXPECT_EQ(cfgetospeed(&s), B57600);
    EXPECT_EQ(s.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(s.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(s.c_iflag & (IXON | IXOFF | ICRNL | INLCR | ISTRIP), 0u);
    EXPECT_EQ(s.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(s.c_oflag & OPOST, 0u);
    EXPECT_EQ(s.c_cc[VMIN], 0);
    EXPECT_EQ(s.c_cc[VTIME], 0);

    // Bytes both ways, unchanged (CR, LF, XON, XOFF included).
    const std::uint8_t out[] = {0x0D, 0x0A, 0x11, 0x13, 0xFF, 0x00};
    ASSERT_TRUE(port.Output(out));
    std::uint8_t got[sizeof out] = {};
    std::size_t n = 0;
    // Ten seconds at most: a port that sends nothing fails here, not hangs.
    for (int waits = 0; n < sizeof out && waits < 100; ++waits) {
        pollfd p{t.master, POLLIN, 0};
        if (poll(&p, 1, 100) != 1) continue;
        const ssize_t k = read(t.master, got + n, sizeof out - n);
        ASSERT_GT(k, 0);
        n += static_cast<std::size_t>(k);
    }
    EXPECT_EQ(std::string(got, got + n), std::string(out, out + sizeof out));
    ASSERT_EQ(write(t.master, out, sizeof out), static_cast<ssize_t>(sizeof out));
    for (int waits = 0; port.InBufferCount() < static_cast<int>(sizeof out) && waits < 10'000; ++waits) usleep(1000);
    EXPECT_EQ(port.Input(), std::string(out, out + sizeof out));
}

// Every failed open leaves the port closed with the platform's reason; a
// port in use names the process holding it; a holder that died leaves the
// terminal exclusive (as only a simulated writer or the last close clears
// it), and that is told apart from a live holder.
TEST(DevicePort, OpenFailuresSayWhy) {
    private_work_folder dir;
    terminal t, orphaned;
    device_port holder;
    holder.device_override = t.name;
    ASSERT_TRUE(holder.PortOpen(true));
    const pid_t died = fork();
    if (died == 0) {
        device_port port;
        port.device_override = orphaned.name;
        if (port.PortOpen(true)) kill(getpid(), SIGKILL);
        _exit(1);
    }
    int status = 0;
    waitpid(died, &status, 0);
    ASSERT_TRUE(WIFSIGNALED(status));
    const std::string plain = dir.file("plain.bin");
    test_support::write_file(plain, "x");
    const struct {
        std::string device;
        std::string reason;
        bool only_for_an_ordinary_user;  // root opens an exclusive terminal
    } rows[] = {
        {dir.file("no-such-device"), "No such file or directory", false},
        {t.name, "the port is in use by another program, process " + std::to_string(getpid()) + " (", false},
        {orphaned.name, "the port is held exclusively by a program that takes no lock, or was left so by one that "
                        "ended without giving it back", true},
        {"/dev/ptmx", "it is the side of a pseudo-terminal that makes new terminals, not a port", false},
        {plain, "not a serial device", false},
        {dir.path(), "not a serial device", false},
    };
    for (const auto& row : rows) {
        if (row.only_for_an_ordinary_user && geteuid() == 0) continue;
        device_port port;
        port.device_override = row.device;
        EXPECT_FALSE(port.PortOpen(true)) << row.device;
        EXPECT_FALSE(port.PortOpen());
        EXPECT_EQ(port.last_error().rfind(row.reason, 0), 0u) << row.device << ": " << port.last_error();
    }
}

// COMn: a comN entry, or /dev/ttyS<n-1> only when the ports folder holds
// none; anything else that keeps the tool from knowing what comN is (a link
// whose target is gone, a folder it may not search or behind a link loop, a
// simulated writer that has stopped) is an error, never another device.
TEST(DevicePort, ComNumbersStandForTheLinkOrNothing) {
    namespace fs = std::filesystem;
    private_work_folder dir;
    const fs::path ports = own_ports_folder(dir);
    terminal t, other;
    fs::create_symlink(t.name, ports / "com3");
    fs::create_symlink(dir.file("unplugged"), ports / "com4");
    // The simulator of com5 is gone and another program has its terminal.
    const pid_t gone = fork();
    if (gone == 0) _exit(0);
    waitpid(gone, nullptr, 0);
    fs::create_symlink(other.name, ports / "com5");
    test_support::write_file((ports / "com5.sim-pid").string(), std::to_string(gone) + "\n" + other.name + "\n");
    EXPECT_EQ(resolve_port(2).device, "/dev/ttyS1");
    EXPECT_EQ(resolve_port(3).device, t.name);
    EXPECT_EQ(resolve_port(4).error, "the link com4 points to " + dir.file("unplugged") + ", which does not exist");
    // A device behind a folder this user may not search is not "missing".
    fs::create_directories(dir.file("locked"));
    fs::create_symlink(dir.file("locked") + "/ttyUSB0", ports / "com6");
    fs::permissions(dir.file("locked"), fs::perms::none);
    if (geteuid() != 0) {
        EXPECT_EQ(resolve_port(6).error, "the link com6 points to " + dir.file("locked") +
                                             "/ttyUSB0, which cannot be looked at: Permission denied");
        // The advice is about the folder, not a group for serial ports.
        device_port locked;
        locked.CommPort(6);
        EXPECT_FALSE(locked.PortOpen(true));
        EXPECT_NE(locked.open_advice().find("look into that folder"), std::string::npos) << locked.open_advice();
        EXPECT_EQ(locked.open_advice().find("usermod"), std::string::npos);
    }
    fs::permissions(dir.file("locked"), fs::perms::owner_all);
    EXPECT_EQ(resolve_port(5).error.rfind("the simulated writer behind COM5 has stopped", 0), 0u) << resolve_port(5).error;
    device_port port;
    for (int n : {4, 5}) {
        port.CommPort(n);
        EXPECT_FALSE(port.PortOpen(true));
        EXPECT_EQ(port.last_error(), resolve_port(n).error);
    }
    port.CommPort(3);
    EXPECT_TRUE(port.PortOpen(true)) << port.last_error();
    port.PortOpen(false);

    // The ports folder itself cannot be looked into.
    const fs::path loop = fs::path(dir.path()) / "loop";
    fs::create_symlink(loop, loop);
    const struct {
        const char* config;
        const char* reason;
    } unreadable[] = {{"loop", "Too many levels of symbolic links"}, {"shut", "Permission denied"}};
    fs::create_directories(fs::path(dir.path()) / "shut" / "torvela" / "ports");
    fs::permissions(fs::path(dir.path()) / "shut" / "torvela", fs::perms::none);
    for (const auto& row : unreadable) {
        if (std::string(row.config) == "shut" && geteuid() == 0) continue;  // root searches any folder
        setenv("XDG_CONFIG_HOME", (fs::path(dir.path()) / row.config).c_str(), 1);
        const port_choice c = resolve_port(1);
        EXPECT_EQ(c.device, "") << row.config;
        EXPECT_NE(c.error.find("cannot look at com1"), std::string::npos) << c.error;
        EXPECT_NE(c.error.find(row.reason), std::string::npos) << c.error;
    }
    fs::permissions(fs::path(dir.path()) / "shut" / "torvela", fs::perms::owner_all);
    unsetenv("XDG_CONFIG_HOME");
}

// A device that is not there is refused with the ports that are, as
// `ports` lists them; none of them is opened or sent a byte. A device that
// is there but refuses is not told about the others.
TEST(DevicePort, AMissingDeviceNamesThePortsPresent) {
    namespace fs = std::filesystem;
    private_work_folder dir;
    const fs::path ports = own_ports_folder(dir);
    terminal t, busy;
    fs::create_symlink(t.name, ports / "com2");
    fs::create_symlink(dir.file("unplugged"), ports / "com7");
    device_port missing;
    missing.device_override = dir.file("ttyUSB9");
    EXPECT_FALSE(missing.PortOpen(true));
    EXPECT_NE(missing.open_advice().find("the ports present here: "), std::string::npos) << missing.open_advice();
    EXPECT_NE(missing.open_advice().find("COM2 (" + t.name + ")"), std::string::npos) << missing.open_advice();
    EXPECT_EQ(missing.open_advice().find("COM7"), std::string::npos) << missing.open_advice();
    device_port unplugged;
    unplugged.CommPort(7);
    EXPECT_FALSE(unplugged.PortOpen(true));
    EXPECT_NE(unplugged.open_advice().find("COM2 (" + t.name + ")"), std::string::npos) << unplugged.open_advice();
    // Nothing reached the terminal that is there.
    pollfd p{t.master, POLLIN, 0};
    EXPECT_EQ(poll(&p, 1, 50), 0);
    // In use is said as in use.
    device_port holder, second;
    holder.device_override = second.device_override = busy.name;
    ASSERT_TRUE(holder.PortOpen(true));
    EXPECT_FALSE(second.PortOpen(true));
    EXPECT_EQ(second.open_advice().find("present here"), std::string::npos) << second.open_advice();
    unsetenv("XDG_CONFIG_HOME");
}

// The port is given back as it was found: job after job opens it again
// while the other side stays open (an ordinary user is refused a terminal
// left exclusive), and the settings it had are back.
TEST(DevicePort, ClosingGivesTheDeviceBackAsItWasFound) {
    terminal t;
    termios before{};
    ASSERT_EQ(tcgetattr(t.master, &before), 0);
    cfsetspeed(&before, B9600);
    before.c_lflag |= ICANON | ECHO;
    ASSERT_EQ(tcsetattr(t.master, TCSANOW, &before), 0);
    for (int job = 0; job < 3; ++job) {
        device_port port;
        port.device_override = t.name;
        ASSERT_TRUE(port.PortOpen(true)) << "job " << job << ": " << port.last_error();
        port.PortOpen(false);
        termios after{};
        ASSERT_EQ(tcgetattr(t.master, &after), 0);
        EXPECT_EQ(cfgetospeed(&after), B9600);
        EXPECT_EQ(after.c_lflag & (ICANON | ECHO), static_cast<tcflag_t>(ICANON | ECHO));
    }
}

// The other end gone (an adapter pulled out, the simulator killed): the
// port reads closed and says why.
TEST(DevicePort, HangUpIsALostLine) {
    auto t = std::make_unique<terminal>();
    device_port port;
    port.device_override = t->name;
    ASSERT_TRUE(port.PortOpen(true));
    EXPECT_EQ(port.InBufferCount(), 0);
    t.reset();
    EXPECT_EQ(port.InBufferCount(), -1);
    EXPECT_FALSE(port.PortOpen());
    EXPECT_EQ(port.last_error(), "the other end hung up");
}

// A device whose buffer is full: the bytes it does not take wait for the
// following ticks instead of holding the caller, and arrive whole and in
// order once it reads again; one that takes nothing for a second is lost.
TEST(DevicePort, AFullDeviceNeverHoldsTheCaller) {
    terminal t;
    device_port port;
    port.device_override = t.name;
    ASSERT_TRUE(port.PortOpen(true));
    std::string sent;
    // Far more than a terminal's buffer, nobody reading: every call returns.
    for (int page = 0; page < 1024; ++page) {
        const std::string bytes = test_support::random_bytes(260, static_cast<unsigned>(page));
        ASSERT_TRUE(port.Output(std::span(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size())));
        sent += bytes;
    }
    std::string got;
    char buf[4096];
    // Ticks until all arrived, at most a second's worth of a 4 ms engine's
    // many times over: a queue that stops sending fails here, never hangs.
    for (int tick = 0; got.size() < sent.size(); ++tick) {
        ASSERT_LT(tick, 100'000) << got.size() << " of " << sent.size() << " bytes arrived";
        ASSERT_GE(port.InBufferCount(), 0) << port.last_error();  // a tick: the rest goes on
        const ssize_t n = read(t.master, buf, sizeof buf);
        if (n > 0) got.append(buf, static_cast<std::size_t>(n));
    }
    EXPECT_TRUE(got == sent);

    ASSERT_TRUE(port.Output(std::span(reinterpret_cast<const std::uint8_t*>(sent.data()), sent.size())));
    // The terminal moves what it holds on between its two sides for a while;
    // once both are full nothing moves, and a second later the line is lost.
    int waiting = 0;
    for (int tick = 0; tick < 40 && (waiting = port.InBufferCount()) >= 0; ++tick) usleep(250'000);
    EXPECT_EQ(waiting, -1);
    EXPECT_EQ(port.last_error(), "the device takes no more bytes");
}
