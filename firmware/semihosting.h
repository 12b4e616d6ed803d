/*
 * Output of the bare-metal test image through the debugger's semihosting
 * interface (QEMU: -semihosting-config enable=on,target=native): console
 * text, host files written in binary, and the exit status.
 */
#ifndef FIRMWARE_SEMIHOSTING_H
#define FIRMWARE_SEMIHOSTING_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Prints a zero-terminated text on the host console. */
void semihost_print(const char *text);

/* Prints an unsigned number in decimal. */
void semihost_print_u32(uint32_t value);

/* Opens a host file for binary writing (created or truncated); returns a
 * handle, or -1 on failure. */
int32_t semihost_open_write(const char *path);

/* Writes length bytes; returns 0 when everything was written. */
int32_t semihost_write(int32_t handle, const void *data, size_t length);

/* Closes a host file; returns 0 on success. */
int32_t semihost_close(int32_t handle);

/* Ends the emulation: status 0 reports success, anything else failure. */
void semihost_exit(int status) __attribute__((noreturn));

#ifdef __cplusplus
}
#endif

#endif
