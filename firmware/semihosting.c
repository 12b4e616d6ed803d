#include "semihosting.h"

#include <string.h>

enum {
    SYS_OPEN = 0x01,
    SYS_CLOSE = 0x02,
    SYS_WRITE0 = 0x04,
    SYS_WRITE = 0x05,
    SYS_EXIT = 0x18,
    OPEN_MODE_WRITE_BINARY = 5, /* "wb" */
    ADP_STOPPED_APPLICATION_EXIT = 0x20026,
    ADP_STOPPED_RUN_TIME_ERROR = 0x20023,
};

/* The semihosting trap: operation in r0, argument block in r1, result in r0. */
static int32_t semihost_call(int32_t operation, const void *argument)
{
    register int32_t r0 __asm__("r0") = operation;
    register const void *r1 __asm__("r1") = argument;
    __asm__ volatile("bkpt 0xAB" : "+r"(r0) : "r"(r1) : "memory");
    return r0;
}

void semihost_print(const char *text)
{
    semihost_call(SYS_WRITE0, text);
}

void semihost_print_u32(uint32_t value)
{
    char digits[11];
    int position = 10;
    digits[position] = '\0';
    do {
        digits[--position] = (char)('0' + value % 10u);
        value /= 10u;
    } while (value != 0u);
    semihost_print(&digits[position]);
}

int32_t semihost_open_write(const char *path)
{
    uint32_t block[3] = {(uint32_t)(uintptr_t)path, OPEN_MODE_WRITE_BINARY, (uint32_t)strlen(path)};
    return semihost_call(SYS_OPEN, block);
}

int32_t semihost_write(int32_t handle, const void *data, size_t length)
{
    uint32_t block[3] = {(uint32_t)handle, (uint32_t)(uintptr_t)data, (uint32_t)length};
    return semihost_call(SYS_WRITE, block);
}

int32_t semihost_close(int32_t handle)
{
    uint32_t block[1] = {(uint32_t)handle};
    return semihost_call(SYS_CLOSE, block);
}

void semihost_exit(int status)
{
    /* On 32-bit Arm the reason code is passed directly, not in a block. */
    semihost_call(SYS_EXIT, (const void *)(uintptr_t)(status == 0 ? ADP_STOPPED_APPLICATION_EXIT
                                                                  : ADP_STOPPED_RUN_TIME_ERROR));
    for (;;) {
    }
}
