#include "TestPlan.h"

#include "Errors.h"
#include "Requests.h"

namespace tarvo::plans {

QString PlanProblem::text(const QString& fileName) const
{
    if (place.line <= 0)
        return QStringLiteral("%1: %2").arg(fileName, message);
    return QStringLiteral("%1:%2:%3: %4").arg(fileName).arg(place.line).arg(place.column).arg(message);
}

void applyPlanSettings(const PlanSettings& p, ExchangeSettings& s)
{
    if (p.serial) {
        s.serial = true;
        s.link.comPort = *p.serial;
    } else if (p.host) {
        s.serial = false;
        s.link.host = *p.host;
        s.link.tcpPort = p.port.value_or(QString());
        s.link.transport = p.udp ? Transport::Udp : Transport::Tcp;
    }
    if (p.mbap)
        s.link.framing = *p.mbap ? NetFraming::Mbap : NetFraming::Raw;
    // The protocol before the speed: changing to Modbus sets 9600, as on the console, and a speed wins.
    // A plan that only names the protocol already chosen keeps the speed chosen with it.
    if (p.protocol) {
        if (*p.protocol == Protocol::Modbus && s.protocol != Protocol::Modbus)
            s.speed = QStringLiteral("9600");
        s.protocol = *p.protocol;
    }
    if (p.speed)
        s.speed = QString::number(*p.speed);
    if (p.line) {
        const bool rtsCts = s.link.line.rtsCts;
        s.link.line = *p.line;
        s.link.line.rtsCts = rtsCts;
    }
    if (p.rtsCts)
        s.link.line.rtsCts = *p.rtsCts;
    if (p.rs485)
        s.link.rs485.enabled = *p.rs485;
    if (p.dropEcho)
        s.link.dropEcho = *p.dropEcho;
    if (p.lowLatency)
        s.link.lowLatency = *p.lowLatency;
    if (p.code)
        s.customerCode = *p.code;
    if (p.passphrase) {
        s.encrypt = true;
        s.password = *p.passphrase;
    }
    if (p.ack)
        s.ackReq = *p.ack;
    if (p.resp)
        s.respReq = *p.resp;
    if (p.timeoutMs)
        s.timeoutMs = *p.timeoutMs;
    if (p.settleMs)
        s.waitingMs = *p.settleMs;
    if (p.scanDelayMs)
        s.scanMs = *p.scanDelayMs;
    if (p.tries)
        s.tries = *p.tries;
}

ExchangeSettings stepSettings(const ExchangeSettings& base, const Step& step, int address)
{
    ExchangeSettings s = base;
    s.function = step.function;
    s.query = step.query;
    s.commands = step.commands;
    s.selectAddresses({address});
    return s;
}

QList<PlanProblem> requestProblems(const TestPlan& plan, const ExchangeSettings& base)
{
    QList<PlanProblem> problems;
    for (const Step& step : plan.steps) {
        if (step.waitOnly)
            continue;
        if (base.protocol == Protocol::Bioscrypt && step.function != fn::SendCommand) {
            // A script cannot see the console's warning: a fixed request is none of a reader's commands.
            problems << PlanProblem{step.requestPlace, QStringLiteral("step \"%1\": a Bioscrypt reader takes command "
                                                                      "lines only (command = \"...\")")
                                                           .arg(step.name)};
            continue;
        }
        for (int address : step.addresses) {
            const ExchangeSettings s = stepSettings(base, step, address);
            const RequestSettings r = s.request(0);
            // Whose fault: an address the protocol cannot carry, or the request itself.
            bool addressFits = true;
            try {
                addressPlusOneField(r.address);
            } catch (const TarvoError&) {
                addressFits = false;
            }
            try {
                const QList<CallRequest> requests = callRequests(r, step.function, s.query, s.commands);
                if (requests.isEmpty())
                    throw RequestRefused(QStringLiteral("no command line to send"));
                for (const CallRequest& request : requests) {
                    if (request.line && !request.line->warning.isEmpty())
                        throw RequestRefused(
                            QStringLiteral("%1: %2").arg(request.line->commandText, request.line->warning));
                    frameRequest(request.text, r);
                }
            } catch (const TarvoError& e) {
                problems << PlanProblem{
                    addressFits ? step.requestPlace : step.addressPlace,
                    QStringLiteral("step \"%1\", address %2: %3").arg(step.name).arg(address).arg(e.description())};
                break; // one is enough to find the mistake
            }
        }
    }
    return problems;
}

} // namespace tarvo::plans
