/* The floor of the answer-latency figures: a terminal that does nothing but
 * answer. It opens the line a caller made raw (argv[1]), prompts ID= for a CR
 * before the logon, accepts the logon, answers every block ACK CR and the
 * caller's EOT CR with ESC EOT CR, then exits. No checks, no display, no
 * threads: what is left is the machine's own cost of a round trip. */
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

static void Send(int fd, const char* text) {
    size_t done = 0, size = strlen(text);
    while (done < size) {
        ssize_t n = write(fd, text + done, size - done);
        if (n <= 0)
            return;
        done += (size_t)n;
    }
}

int main(int argc, char** argv) {
    if (argc != 2) {
        fprintf(stderr, "usage: answer_floor LINE\n");
        return 2;
    }
    int fd = open(argv[1], O_RDWR | O_NOCTTY);
    if (fd < 0) {
        perror(argv[1]);
        return 1;
    }
    char line[1024];
    size_t used = 0;
    int loggedOn = 0;
    char buf[4096];
    for (;;) {
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0)
            return 0;
        for (ssize_t i = 0; i < n; ++i) {
            char c = buf[i];
            if (c != '\r') {
                if (used < sizeof line)
                    line[used++] = c;
                continue;
            }
            /* One CR-ended piece: what it starts with says what it was. */
            if (used > 0 && line[0] == 0x1b) {
                Send(fd, "\x06\r\x1b[p\r");
                loggedOn = 1;
            } else if (used > 0 && line[0] == 0x04) {
                Send(fd, "\x1b\x04\r");
                return 0;
            } else if (!loggedOn) {
                Send(fd, "ID=");
            } else if (used >= 4 && memchr(line, 0x02, used) &&
                       (line[used - 4] == 0x03 || line[used - 4] == 0x17 ||
                        line[used - 4] == 0x1f)) {
                Send(fd, "\x06\r");
            } else {
                continue; /* a field's CR inside a block */
            }
            used = 0;
        }
    }
}
