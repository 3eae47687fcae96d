/* A Modbus RTU slave built on libmodbus, a peer nobody here wrote: the console's Modbus requests are
 * checked against it. Usage: modbus_slave DEVICE SLAVE_ID
 * Discrete input i is on when i is a multiple of 3; input register 0x100 + i holds 0x1000 + i. */
#include <errno.h>
#include <modbus.h>
#include <stdio.h>
#include <stdlib.h>

int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: modbus_slave DEVICE SLAVE_ID\n");
        return 2;
    }
    modbus_t* ctx = modbus_new_rtu(argv[1], 9600, 'N', 8, 2);
    if (!ctx || modbus_set_slave(ctx, atoi(argv[2])) != 0 || modbus_connect(ctx) != 0) {
        fprintf(stderr, "modbus_slave: %s\n", modbus_strerror(errno));
        return 1;
    }
    modbus_mapping_t* map = modbus_mapping_new_start_address(0, 0, 0, 64, 0, 0, 0x100, 0x20);
    if (!map)
        return 1;
    for (int i = 0; i < 64; ++i)
        map->tab_input_bits[i] = (i % 3) == 0;
    for (int i = 0; i < 0x20; ++i)
        map->tab_input_registers[i] = (uint16_t)(0x1000 + i);
    printf("ready\n");
    fflush(stdout);
    for (;;) {
        uint8_t query[MODBUS_RTU_MAX_ADU_LENGTH];
        const int rc = modbus_receive(ctx, query);
        if (rc > 0)
            modbus_reply(ctx, query, rc, map);
    }
}
