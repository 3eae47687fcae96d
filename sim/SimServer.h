#pragma once

// The simulator's input and output: a pseudo-terminal, a TCP listener and a UDP socket, each stream
// link cutting its bytes into frames with a FrameAssembler and a gap timer (a datagram is one frame),
// handing them to SimCore and writing the replies (with the delays and trickling that the fault modes
// ask for). One thread, event-driven.

#include "SimCore.h"
#include "SimOptions.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTimer>

#include <functional>
#include <memory>

class QHostAddress;
class QTcpServer;
class QTcpSocket;
class QUdpSocket;
class QSocketNotifier;
class QTextStream;
class QFile;

namespace tarvo::sim {

class SimServer;

// One link: the pty, one TCP connection, or one UDP peer (an address and port heard from).
class Link : public QObject {
    Q_OBJECT
public:
    enum class Kind { Pty, Tcp, Udp };
    Link(SimServer& server, QString name, Kind kind);
    ~Link() override;
    void received(const QByteArray& bytes);
    // The link is closing: what it holds of a frame still coming is handled (and logged) now, as the
    // gap that would end it will not come.
    void ended();
    // Writes raw bytes on the link; set by the owner.
    std::function<qint64(const QByteArray&)> write;
    std::function<void()> close;
    const QString& name() const { return m_name; }
    bool idle() const { return !m_busy && m_queue.isEmpty(); }
    qint64 lastHeard = 0; // when the link last received, in ms since the epoch

private:
    struct Pending {
        QByteArray bytes;
        int delayMs = 0;
        int trickleMs = 0;
        int address = -1;
        bool drop = false;
    };
    void handle(const QByteArray& frame);
    void startNext();
    void sendStep();

    SimServer& m_server;
    QString m_name;
    bool m_datagram = false; // one frame per datagram, one reply per datagram: no gap, no trickle
    LinkState m_state;
    FrameAssembler m_assembler;
    QTimer m_gap;
    QTimer m_send;
    QList<Pending> m_queue;
    qsizetype m_sent = 0; // bytes of the queue's head already written
    bool m_busy = false;
};

class SimServer : public QObject {
    Q_OBJECT
public:
    explicit SimServer(SimOptions options);
    ~SimServer() override;

    // Opens the links and prints their lines; false with a one-line error when it cannot.
    bool start(QString& error);
    void stop();

    SimCore& core() { return m_core; }
    const SimOptions& options() const { return m_options; }
    void log(const QString& link, const QString& direction, const QByteArray& bytes, int address,
             const QString& verdict);
    void say(const QString& line); // status lines on standard output

private:
    bool openPty(QString& error);
    void readPty();
    void acceptClients();
    bool openUdp(QString& error);
    void readDatagrams();
    Link* udpPeer(const QHostAddress& address, quint16 port);

    SimOptions m_options;
    SimCore m_core;
    int m_master = -1;
    int m_slave = -1;
    QString m_slavePath;
    bool m_linkMade = false;
    QSocketNotifier* m_ptyNotifier = nullptr;
    std::unique_ptr<Link> m_ptyLink;
    QTcpServer* m_tcp = nullptr;
    int m_clientCount = 0;
    QUdpSocket* m_udp = nullptr;
    QHash<QString, Link*> m_udpPeers; // by "address:port"; children of this server
    int m_udpPeerCount = 0;
    std::unique_ptr<QFile> m_logFile;
    std::unique_ptr<QTextStream> m_out;
    std::unique_ptr<QTextStream> m_logStream;
};

} // namespace tarvo::sim
