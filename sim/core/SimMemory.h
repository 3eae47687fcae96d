#pragma once

// What the simulated controllers hold, as plain functions so that any test can predict every byte a
// controller sends. "a" is always the CONSOLE address: the number the technician types in the
// console's address box (not the byte on the wire, which is a + 1 for fixed requests and Modbus).
//
//   memory byte (page p, memory address m) = (a * 31 + p * 7 + m) mod 256
//       p is the page byte of "72 pp aaaa ll" as it goes on the wire (the console's page text read as
//       hexadecimal: "01" is 1, "10" is 16), m the 16-bit address of that byte (aaaa + i, wrapping
//       after FFFF).
//   input register r (function 04)     = (a * 256 + r mod 256) mod 65536
//   holding register r (function 03)   = (a * 100 + r) mod 65536
//   discrete input i (function 02)     = 1 when (i + a) mod 3 == 0
//   coil i (function 01)               = 1 when (i + a) mod 2 == 1
//   registers and bits exist at 0 .. 1023; anything beyond is "illegal data address".
//   query q (function 18 hex, 24)      = the four bytes q, a mod 256, 55, AA
//   EPROM identification ("73")        = 73 01 15 03 24 hi lo   (version 01, date 15/03/24,
//                                        checksum C000 + a mod 4096 as two bytes)
//   ROM identification ("71")          = 71 54 53 49 4D 02 01 a 24 03  ("TSIM", version 2.1,
//                                        a mod 256, 2024-03)

#include <QByteArray>
#include <cstdint>

namespace tarvo::sim {

constexpr int kTableSize = 1024; // registers 0..1023 and bits 0..1023

uint8_t memoryByte(int consoleAddress, int page, int memoryAddress);
// length bytes from firstAddress on, the address wrapping after FFFF.
QByteArray memoryBytes(int consoleAddress, int page, int firstAddress, int length);

uint16_t inputRegister(int consoleAddress, int reg);
uint16_t holdingRegister(int consoleAddress, int reg);
bool discreteInput(int consoleAddress, int bit);
bool coil(int consoleAddress, int bit);

// Data bytes (the N bytes after the count byte) of the identification replies; the first byte echoes
// the command code.
QByteArray epromIdentification(int consoleAddress);
QByteArray romIdentification(int consoleAddress);
QByteArray queryData(int consoleAddress, int queryCode);

} // namespace tarvo::sim
