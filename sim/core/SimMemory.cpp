#include "SimMemory.h"

namespace tarvo::sim {

uint8_t memoryByte(int consoleAddress, int page, int memoryAddress)
{
    const long long v = static_cast<long long>(consoleAddress) * 31 + static_cast<long long>(page) * 7 + memoryAddress;
    return static_cast<uint8_t>(((v % 256) + 256) % 256);
}

QByteArray memoryBytes(int consoleAddress, int page, int firstAddress, int length)
{
    QByteArray out;
    out.reserve(length);
    for (int i = 0; i < length; ++i)
        out.append(static_cast<char>(memoryByte(consoleAddress, page, (firstAddress + i) & 0xFFFF)));
    return out;
}

uint16_t inputRegister(int consoleAddress, int reg)
{
    return static_cast<uint16_t>((consoleAddress * 256 + (reg & 0xFF)) & 0xFFFF);
}

uint16_t holdingRegister(int consoleAddress, int reg)
{
    return static_cast<uint16_t>((consoleAddress * 100 + reg) & 0xFFFF);
}

bool discreteInput(int consoleAddress, int bit)
{
    return (bit + consoleAddress) % 3 == 0;
}

bool coil(int consoleAddress, int bit)
{
    return (bit + consoleAddress) % 2 == 1;
}

QByteArray epromIdentification(int consoleAddress)
{
    const int checksum = 0xC000 + (consoleAddress & 0x0FFF);
    QByteArray d;
    for (int b : {0x73, 0x01, 0x15, 0x03, 0x24, checksum >> 8, checksum & 0xFF})
        d.append(static_cast<char>(b));
    return d;
}

QByteArray romIdentification(int consoleAddress)
{
    QByteArray d;
    for (int b : {0x71, 0x54, 0x53, 0x49, 0x4D, 0x02, 0x01, consoleAddress & 0xFF, 0x24, 0x03})
        d.append(static_cast<char>(b));
    return d;
}

QByteArray queryData(int consoleAddress, int queryCode)
{
    QByteArray d;
    for (int b : {queryCode & 0xFF, consoleAddress & 0xFF, 0x55, 0xAA})
        d.append(static_cast<char>(b));
    return d;
}

} // namespace tarvo::sim
