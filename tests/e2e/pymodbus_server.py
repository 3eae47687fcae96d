#!/usr/bin/python3
"""A Modbus server on Debian's python3-pymodbus (3.0), a peer nobody here wrote, for the end-to-end tests.

usage: pymodbus_server.py rtu DEVICE | tcp | udp  [--units 5,6] [--bad-crc-unit N]

Serves Modbus RTU on a serial device (9600 8N2, as the console sets it), or Modbus TCP on a TCP or UDP
port of 127.0.0.1 that it picks; prints "ready" (RTU) or "ready PORT" once it serves. Each unit id u holds
  - discrete inputs 0..15, input i on when (i + u) % 3 == 0;
  - input registers 0x100..0x11F, register 0x100 + i holding u * 0x100 + i;
  - holding registers 200..209, register 200 + i holding 0x8000 + u * 0x10 + i;
and nothing else: any other address is exception 02. A unit it does not serve gets no answer (pymodbus
drops such a request before it could answer anything). Under RTU, the replies of --bad-crc-unit carry
a CRC with its last byte spoiled.
"""

import argparse
import asyncio
import logging
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.factory import ServerDecoder
from pymodbus.server.async_io import ModbusSerialServer, ModbusTcpServer, ModbusUdpServer
from pymodbus.transaction import ModbusRtuFramer, ModbusSocketFramer


def unit_context(u):
    # zero_mode: the data blocks are addressed as the wire addresses them (pymodbus adds one otherwise).
    return ModbusSlaveContext(
        di=ModbusSequentialDataBlock(0, [(i + u) % 3 == 0 for i in range(16)]),
        co=ModbusSequentialDataBlock(0, [False]),
        ir=ModbusSequentialDataBlock(0x100, [u * 0x100 + i for i in range(0x20)]),
        hr=ModbusSequentialDataBlock(200, [0x8000 + u * 0x10 + i for i in range(10)]),
        zero_mode=True,
    )


async def main():
    # pymodbus logs every closed connection and every exception it answers as an error.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    parser = argparse.ArgumentParser()
    parser.add_argument("transport", choices=["rtu", "tcp", "udp"])
    parser.add_argument("device", nargs="?")
    parser.add_argument("--units", default="5")
    parser.add_argument("--bad-crc-unit", type=int)
    args = parser.parse_args()

    units = [int(u) for u in args.units.split(",")]
    if args.bad_crc_unit is not None:
        units.append(args.bad_crc_unit)
    context = ModbusServerContext(slaves={u: unit_context(u) for u in units}, single=False)

    if args.transport == "rtu":
        rtu = ModbusRtuFramer(ServerDecoder())

        def spoil(response):
            if response.unit_id != args.bad_crc_unit:
                return response, False
            frame = bytearray(rtu.buildPacket(response))
            frame[-1] ^= 0xFF
            return bytes(frame), True

        server = ModbusSerialServer(context, framer=ModbusRtuFramer, port=args.device, baudrate=9600,
                                    bytesize=8, parity="N", stopbits=2, response_manipulator=spoil)
        await server.start()
        print("ready", flush=True)
        await server.serve_forever()
        return

    cls = ModbusTcpServer if args.transport == "tcp" else ModbusUdpServer
    server = cls(context, ModbusSocketFramer, None, ("127.0.0.1", 0))
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    if args.transport == "tcp":
        port = server.server.sockets[0].getsockname()[1]
    else:
        port = server.protocol.get_extra_info("sockname")[1]  # the datagram transport, as pymodbus names it
    print(f"ready {port}", flush=True)
    await task


if __name__ == "__main__":
    try:
        asyncio.run(main())
    except KeyboardInterrupt:
        sys.exit(0)
