#include "SimServer.h"

#include <QDateTime>
#include <QFile>
#include <QHostAddress>
#include <QHostInfo>
#include <QNetworkDatagram>
#include <QSocketNotifier>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>
#include <QUdpSocket>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace tarvo::sim {

namespace {

// The speeds a terminal offers, in bit/s and as its speed constant.
const QList<QPair<int, speed_t>>& speedTable()
{
    static const QList<QPair<int, speed_t>> table{
        {50, B50},         {300, B300},       {600, B600},       {1200, B1200},     {2400, B2400},
        {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},   {57600, B57600},
        {115200, B115200}, {230400, B230400}, {460800, B460800}, {921600, B921600},
    };
    return table;
}

bool speedConstant(int baud, speed_t& out)
{
    for (const auto& [b, s] : speedTable()) {
        if (b == baud) {
            out = s;
            return true;
        }
    }
    return false;
}

int speedOf(speed_t constant)
{
    for (const auto& [b, s] : speedTable()) {
        if (s == constant)
            return b;
    }
    return -1;
}

QString errnoText()
{
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The address to listen on: an IP address as given, or the first address a host name resolves to
// (QHostAddress alone takes "localhost" for no address at all, and the listener then takes every
// interface).
bool listenAddress(const QString& host, QHostAddress& address, QString& error)
{
    address = QHostAddress(host);
    if (!address.isNull())
        return true;
    const QHostInfo info = QHostInfo::fromName(host);
    if (info.error() != QHostInfo::NoError || info.addresses().isEmpty()) {
        error = QStringLiteral("cannot listen on %1: %2")
                    .arg(host, info.error() != QHostInfo::NoError ? info.errorString()
                                                                  : QStringLiteral("the host has no address"));
        return false;
    }
    address = info.addresses().constFirst();
    return true;
}

// UDP has no connections to end: the peers heard from are remembered up to this many, the one heard
// from longest ago (with nothing left to send) forgotten first, so that a long run with masters that
// take a new port for every poll does not grow without end.
constexpr int kUdpPeersKept = 64;

} // namespace

// ---- Link

Link::Link(SimServer& server, QString name, Kind kind)
    : m_server(server), m_name(std::move(name)), m_datagram(kind == Kind::Udp),
      m_assembler(server.core(), kind != Kind::Pty && server.options().mbap)
{
    m_state.tcp = kind == Kind::Tcp;
    m_state.mbap = kind != Kind::Pty && server.options().mbap;
    m_state.datagram = m_datagram;
    m_gap.setSingleShot(true);
    m_send.setSingleShot(true);
    connect(&m_gap, &QTimer::timeout, this, [this] {
        const QByteArray rest = m_assembler.flush();
        if (!rest.isEmpty())
            handle(rest);
    });
    connect(&m_send, &QTimer::timeout, this, &Link::sendStep);
}

Link::~Link() = default;

void Link::received(const QByteArray& bytes)
{
    lastHeard = QDateTime::currentMSecsSinceEpoch();
    if (m_datagram) {
        handle(bytes);
        return;
    }
    for (const QByteArray& frame : m_assembler.feed(bytes))
        handle(frame);
    // A Modbus TCP frame ends by its header's length alone: a request split over segments that
    // come apart must still be joined.
    if (m_assembler.pending() && !m_state.mbap)
        m_gap.start(m_server.options().gapMs);
    else
        m_gap.stop();
}

void Link::ended()
{
    m_gap.stop();
    const QByteArray rest = m_assembler.flush();
    if (!rest.isEmpty())
        handle(rest);
}

void Link::handle(const QByteArray& frame)
{
    const Decision d = m_server.core().handleFrame(frame, m_state);
    m_server.log(m_name, QStringLiteral("rx"), frame, d.consoleAddress, d.request + QStringLiteral(": ") + d.verdict);
    if (d.dropConnection) {
        m_queue.clear();
        m_send.stop();
        if (close)
            close();
        return;
    }
    for (const Segment& s : d.replies)
        m_queue.append({s.bytes, s.delayMs, d.trickleMs, d.consoleAddress, false});
    startNext();
}

void Link::startNext()
{
    if (m_busy || m_queue.isEmpty())
        return;
    m_busy = true;
    m_sent = 0;
    // At once when there is no delay: a client that half-closes after its request (socat) must still
    // get the reply before the close is noticed.
    if (m_queue.first().delayMs == 0)
        sendStep();
    else
        m_send.start(m_queue.first().delayMs);
}

void Link::sendStep()
{
    if (m_queue.isEmpty()) {
        m_busy = false;
        return;
    }
    Pending& head = m_queue.first();
    if (m_sent == 0) {
        const QString note = head.trickleMs > 0 ? QStringLiteral("reply, one byte every %1 ms").arg(head.trickleMs)
                                                : QStringLiteral("reply");
        m_server.log(m_name, QStringLiteral("tx"), head.bytes, head.address, note);
    }
    if (head.trickleMs > 0 && !head.bytes.isEmpty()) {
        write(head.bytes.mid(m_sent, 1));
        if (++m_sent < head.bytes.size()) {
            m_send.start(head.trickleMs);
            return;
        }
    } else if (!head.bytes.isEmpty()) {
        const qint64 n = write(head.bytes);
        if (n < head.bytes.size())
            m_server.say(QStringLiteral("tarvo-sim: %1: only %2 of %3 bytes could be written (nobody reading?)")
                             .arg(m_name)
                             .arg(n)
                             .arg(head.bytes.size()));
    }
    m_queue.removeFirst();
    m_busy = false;
    startNext();
}

// ---- SimServer

SimServer::SimServer(SimOptions options) : m_options(std::move(options)), m_core(m_options.config)
{
    m_out = std::make_unique<QTextStream>(stdout);
}

SimServer::~SimServer()
{
    stop();
}

void SimServer::say(const QString& line)
{
    *m_out << line << '\n';
    m_out->flush();
}

void SimServer::log(const QString& link, const QString& direction, const QByteArray& bytes, int address,
                    const QString& verdict)
{
    const QString addr = address < 0 ? QStringLiteral("addr ?") : QStringLiteral("addr %1").arg(address);
    const QString line = QStringLiteral("%1 %2 %3 %4  %5  | %6")
                             .arg(QDateTime::currentDateTime().toString(QStringLiteral("HH:mm:ss.zzz")),
                                  link.leftJustified(6), direction, addr.leftJustified(10), hexBytes(bytes), verdict);
    QTextStream& s = m_logStream ? *m_logStream : *m_out;
    s << line << '\n';
    s.flush();
}

bool SimServer::start(QString& error)
{
    if (!m_options.logFile.isEmpty()) {
        m_logFile = std::make_unique<QFile>(m_options.logFile);
        if (!m_logFile->open(QIODevice::Append | QIODevice::Text)) {
            error = QStringLiteral("cannot open the log file %1: %2").arg(m_options.logFile, m_logFile->errorString());
            return false;
        }
        m_logStream = std::make_unique<QTextStream>(m_logFile.get());
    }
    say(QStringLiteral("tarvo-sim: protocol %1%2, console addresses %3")
            .arg(protocolName(m_options.config.protocol),
                 m_options.mbap ? QStringLiteral(" (Modbus TCP framing on TCP and UDP)") : QString(), [&] {
                     QStringList parts;
                     for (const auto& r : m_options.config.served)
                         parts << (r.first == r.second ? QString::number(r.first)
                                                       : QStringLiteral("%1-%2").arg(r.first).arg(r.second));
                     return parts.join(QLatin1Char(','));
                 }()));
    if (m_options.tcp) {
        QHostAddress address;
        if (!listenAddress(m_options.tcpHost, address, error))
            return false;
        m_tcp = new QTcpServer(this);
        if (!m_tcp->listen(address, m_options.tcpPort)) {
            error = QStringLiteral("cannot listen on %1:%2: %3%4")
                        .arg(m_options.tcpHost)
                        .arg(m_options.tcpPort)
                        .arg(m_tcp->errorString(),
                             m_options.tcpPort < 1024 && geteuid() != 0
                                 ? QStringLiteral(" (ports below 1024 need root: try --tcp 127.0.0.1:1502)")
                                 : QString());
            return false;
        }
        connect(m_tcp, &QTcpServer::newConnection, this, &SimServer::acceptClients);
        say(QStringLiteral("tcp: %1:%2").arg(m_tcp->serverAddress().toString()).arg(m_tcp->serverPort()));
    }
    if (m_options.udp && !openUdp(error))
        return false;
    if (m_options.serial && !openPty(error))
        return false;
    return true;
}

bool SimServer::openUdp(QString& error)
{
    QHostAddress host;
    if (!listenAddress(m_options.udpHost, host, error))
        return false;
    m_udp = new QUdpSocket(this);
    if (!m_udp->bind(host, m_options.udpPort)) {
        error = QStringLiteral("cannot listen for UDP on %1:%2: %3%4")
                    .arg(m_options.udpHost)
                    .arg(m_options.udpPort)
                    .arg(m_udp->errorString(),
                         m_options.udpPort < 1024 && geteuid() != 0
                             ? QStringLiteral(" (ports below 1024 need root: try --udp 127.0.0.1:1502)")
                             : QString());
        return false;
    }
    connect(m_udp, &QUdpSocket::readyRead, this, &SimServer::readDatagrams);
    say(QStringLiteral("udp: %1:%2").arg(m_udp->localAddress().toString()).arg(m_udp->localPort()));
    return true;
}

void SimServer::readDatagrams()
{
    while (m_udp->hasPendingDatagrams()) {
        const QNetworkDatagram datagram = m_udp->receiveDatagram();
        if (!datagram.isValid())
            break;
        udpPeer(datagram.senderAddress(), static_cast<quint16>(datagram.senderPort()))->received(datagram.data());
    }
}

Link* SimServer::udpPeer(const QHostAddress& address, quint16 port)
{
    const QString key = QStringLiteral("%1:%2").arg(address.toString()).arg(port);
    if (Link* known = m_udpPeers.value(key))
        return known;
    if (m_udpPeers.size() >= kUdpPeersKept) {
        auto oldest = m_udpPeers.end();
        for (auto it = m_udpPeers.begin(); it != m_udpPeers.end(); ++it) {
            if (it.value()->idle() && (oldest == m_udpPeers.end() || it.value()->lastHeard < oldest.value()->lastHeard))
                oldest = it;
        }
        if (oldest != m_udpPeers.end()) {
            delete oldest.value();
            m_udpPeers.erase(oldest);
        }
    }
    const QString name = QStringLiteral("udp#%1").arg(++m_udpPeerCount);
    auto* link = new Link(*this, name, Link::Kind::Udp);
    link->setParent(this);
    QPointer<QUdpSocket> socket(m_udp);
    link->write = [socket, address, port](const QByteArray& bytes) -> qint64 {
        return socket ? socket->writeDatagram(bytes, address, port) : 0;
    };
    m_udpPeers.insert(key, link);
    log(name, QStringLiteral("--"), {}, -1, QStringLiteral("datagrams from %1").arg(key));
    return link;
}

bool SimServer::openPty(QString& error)
{
    speed_t speed = B38400;
    if (!speedConstant(m_options.speed, speed)) {
        error = QStringLiteral("--speed %1 is not a speed a serial port offers").arg(m_options.speed);
        return false;
    }
    m_master = posix_openpt(O_RDWR | O_NOCTTY);
    if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) {
        error = QStringLiteral("cannot create a pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    const char* name = ptsname(m_master);
    if (!name) {
        error = QStringLiteral("cannot name the pseudo-terminal: %1").arg(errnoText());
        return false;
    }
    m_slavePath = QString::fromLocal8Bit(name);
    // Holding the slave open ourselves keeps the master readable while the console closes and reopens
    // the port between slots; without it the master reports EIO whenever no client has it open.
    m_slave = ::open(name, O_RDWR | O_NOCTTY);
    if (m_slave < 0) {
        error = QStringLiteral("cannot open %1: %2").arg(m_slavePath, errnoText());
        return false;
    }
    termios t{};
    tcgetattr(m_slave, &t);
    cfmakeraw(&t);
    t.c_cflag &= ~static_cast<tcflag_t>(PARENB | CSIZE);
    t.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
    cfsetispeed(&t, speed);
    cfsetospeed(&t, speed);
    tcsetattr(m_slave, TCSANOW, &t);
    fcntl(m_master, F_SETFL, fcntl(m_master, F_GETFL) | O_NONBLOCK);

    if (!m_options.linkPath.isEmpty()) {
        const QByteArray link = QFile::encodeName(m_options.linkPath);
        struct stat st {};
        if (lstat(link.constData(), &st) == 0) {
            if (!S_ISLNK(st.st_mode)) {
                error = QStringLiteral("--link %1 exists and is not a symlink").arg(m_options.linkPath);
                return false;
            }
            ::unlink(link.constData());
        }
        if (::symlink(name, link.constData()) != 0) {
            error = QStringLiteral("cannot make the symlink %1: %2").arg(m_options.linkPath, errnoText());
            return false;
        }
        m_linkMade = true;
    }

    m_ptyLink = std::make_unique<Link>(*this, QStringLiteral("pty"), Link::Kind::Pty);
    const int master = m_master;
    m_ptyLink->write = [master](const QByteArray& bytes) -> qint64 {
        const ssize_t n = ::write(master, bytes.constData(), static_cast<size_t>(bytes.size()));
        return n < 0 ? 0 : static_cast<qint64>(n);
    };
    m_ptyNotifier = new QSocketNotifier(m_master, QSocketNotifier::Read, this);
    connect(m_ptyNotifier, &QSocketNotifier::activated, this, &SimServer::readPty);
    say(QStringLiteral("serial: %1").arg(m_slavePath));
    if (m_linkMade)
        say(QStringLiteral("link: %1").arg(m_options.linkPath));
    return true;
}

void SimServer::readPty()
{
    QByteArray got;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, buf, sizeof buf);
        if (n > 0) {
            got.append(buf, n);
            continue;
        }
        break;
    }
    if (got.isEmpty())
        return;
    if (m_options.echo)
        m_ptyLink->write(got);
    // Both ends of a pseudo-terminal share its settings: the speed the client set is the one read here.
    if (m_options.strictSpeed) {
        termios t{};
        speed_t wanted = B38400;
        if (tcgetattr(m_slave, &t) == 0 && speedConstant(m_options.speed, wanted) && cfgetospeed(&t) != wanted) {
            log(QStringLiteral("pty"), QStringLiteral("rx"), got, -1,
                QStringLiteral("ignored: sent at %1 bit/s, the line runs at %2")
                    .arg(speedOf(cfgetospeed(&t)))
                    .arg(m_options.speed));
            return;
        }
    }
    m_ptyLink->received(got);
}

void SimServer::acceptClients()
{
    while (QTcpSocket* socket = m_tcp->nextPendingConnection()) {
        const QString name = QStringLiteral("tcp#%1").arg(++m_clientCount);
        auto* link = new Link(*this, name, Link::Kind::Tcp);
        link->setParent(socket);
        QPointer<QTcpSocket> guard(socket);
        link->write = [guard](const QByteArray& bytes) -> qint64 {
            if (!guard || guard->state() != QAbstractSocket::ConnectedState)
                return 0;
            const qint64 n = guard->write(bytes);
            guard->flush();
            return n;
        };
        link->close = [guard] {
            if (guard)
                guard->disconnectFromHost();
        };
        connect(socket, &QTcpSocket::readyRead, link, [socket, link] { link->received(socket->readAll()); });
        connect(socket, &QTcpSocket::disconnected, this, [this, socket, link, name] {
            link->received(socket->readAll());
            link->ended();
            log(name, QStringLiteral("--"), {}, -1, QStringLiteral("connection closed"));
            socket->deleteLater();
        });
        log(name, QStringLiteral("--"), {}, -1,
            QStringLiteral("connection from %1:%2").arg(socket->peerAddress().toString()).arg(socket->peerPort()));
    }
}

void SimServer::stop()
{
    if (m_linkMade) {
        ::unlink(QFile::encodeName(m_options.linkPath).constData());
        m_linkMade = false;
    }
    delete m_ptyNotifier;
    m_ptyNotifier = nullptr;
    m_ptyLink.reset();
    if (m_slave >= 0)
        ::close(m_slave);
    if (m_master >= 0)
        ::close(m_master);
    m_slave = m_master = -1;
    if (m_tcp)
        m_tcp->close();
    qDeleteAll(m_udpPeers);
    m_udpPeers.clear();
    if (m_udp)
        m_udp->close();
}

} // namespace tarvo::sim
