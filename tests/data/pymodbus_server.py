#!/usr/bin/python3
"""Independent Modbus TCP server for the device tests (Debian python3-pymodbus).

Usage: pymodbus_server.py PORT [HEX,HEX,...] [LIFETIME_S]
Serves the given holding registers from register 0 (the rest 0) at server
address 1 on 127.0.0.1:PORT and ends by itself after LIFETIME_S seconds.
"""
import asyncio
import logging
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartAsyncTcpServer


def main():
    logging.disable(logging.CRITICAL)
    port = int(sys.argv[1])
    values = [int(v, 16) for v in sys.argv[2].split(",") if v] if len(sys.argv) > 2 else []
    lifetime = float(sys.argv[3]) if len(sys.argv) > 3 else 60.0
    registers = values + [0] * (256 - len(values))
    store = ModbusSlaveContext(hr=ModbusSequentialDataBlock(0, registers), zero_mode=True)
    context = ModbusServerContext(slaves={1: store}, single=False)

    async def serve():
        try:
            await asyncio.wait_for(StartAsyncTcpServer(context=context, address=("127.0.0.1", port)), lifetime)
        except asyncio.TimeoutError:
            pass

    asyncio.run(serve())


if __name__ == "__main__":
    main()
