/* SPDX-License-Identifier: MIT */
/* kvbl-read: connects to a KV32 chip's bootloader on a serial port through
 * libKVBLLIB, identifies it, reads 256 bytes of its flash and prints them.
 *
 *   kvbl-read PORT [ADDRESS]      e.g.  kvbl-read ttyUSB0 0x08000000
 *
 * PORT is the device name under /dev (ttyUSB0, pts/7). Build it with
 *   cc kvbl-read.c $(pkg-config --cflags --libs kvbllib) -o kvbl-read
 * or with the CMakeLists.txt beside it (find_package(KVBL)). */
#include <kvbl/KVBLLIB.h>

#include <stdio.h>
#include <stdlib.h>

#define READ_LENGTH 256

static int fail(const char* step, BYTE result)
{
    fprintf(stderr, "kvbl-read: %s failed with result 0x%02X\n", step, result);
    return 1;
}

int main(int argc, char** argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: kvbl-read PORT [ADDRESS]\n");
        return 2;
    }
    const DWORD address = argc == 3 ? strtoul(argv[2], NULL, 0) : 0x08000000ul;

    /* The UART link, as the bootloader expects it: 115200 baud, 8 data
       bits, even parity, one stop bit; answers within a second. */
    HANDLE port = NULL;
    BYTE r = SetCOMSettings(&port, 0, argv[1], 115200, 8, 2, 1.0f);
    if (r != SUCCESS)
        return fail("SetCOMSettings", r);
    if ((r = Interface_Open(port)) != SUCCESS)
        return fail("Interface_Open", r);
    SetTimeOut(port, 1000);

    int status = 0;
    BYTE version = 0;
    BYTE id[8] = {0};
    BYTE idLength = sizeof id; /* room in id; the identifier's length on return */
    Commands commands = {0};
    BYTE data[READ_LENGTH];
    if ((r = KVBL_Init_BL(port, 0, 0, 0)) != SUCCESS)
        status = fail("KVBL_Init_BL", r);
    else if ((r = KVBL_GET(port, &version, &commands)) != SUCCESS)
        status = fail("KVBL_GET", r);
    else if ((r = KVBL_GET_ID(port, &idLength, id)) != SUCCESS)
        status = fail("KVBL_GET_ID", r);
    else if ((r = SetPaketSize(port, 252)) != SUCCESS)
        status = fail("SetPaketSize", r);
    else if ((r = KVBL_UPLOAD(port, address, data, READ_LENGTH)) != SUCCESS)
        status = fail("KVBL_UPLOAD", r);
    else {
        printf("bootloader %u.%u, identifier", version >> 4, version & 0x0F);
        for (BYTE i = 0; i < idLength && i < sizeof id; ++i)
            printf(" %02X", id[i]);
        printf("\n");
        for (int row = 0; row < READ_LENGTH; row += 16) {
            printf("%08lX ", (unsigned long)(address + row));
            for (int i = row; i < row + 16; ++i)
                printf(" %02X", data[i]);
            printf("\n");
        }
    }
    Interface_Close(port);
    return status;
}
