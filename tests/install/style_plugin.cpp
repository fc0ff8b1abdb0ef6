// A Qt style plugin such as any user can make a Qt program load (QT_PLUGIN_PATH,
// QT_STYLE_OVERRIDE): it prints the capabilities its process holds and tries to change the MTU
// of the lab's interface, as code loaded into a capturing window could.
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCommonStyle>
#include <QStylePlugin>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

class CapabilityProbeStyle final : public QStylePlugin {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID QStyleFactoryInterface_iid FILE "style_plugin.json")

  public:
    QStyle* create(const QString&) override {
        std::ifstream status("/proc/self/status");
        for (std::string line; std::getline(status, line);) {
            if (line.rfind("CapEff:", 0) == 0) {
                std::printf("plugin: %s\n", line.c_str());
            }
        }
        ifreq request{};
        std::strcpy(request.ifr_name, "vxst0");
        request.ifr_mtu = 1280;
        const int fd = socket(AF_INET, SOCK_DGRAM, 0);
        const int result = ioctl(fd, SIOCSIFMTU, &request);
        std::printf("plugin: SIOCSIFMTU: %s\n", result == 0 ? "changed" : std::strerror(errno));
        std::fflush(stdout);
        close(fd);
        return new QCommonStyle;  // the application takes ownership
    }
};

#include "style_plugin.moc"
