/* The floor of the benchmark: the least a CGI program can do for a response. It reads a
 * prepared response (another program's, so that both send the same bytes) in one read and
 * writes it in one write, and is built as the programs are, static. Each program's time is
 * measured against this one's, started the same way.
 *
 *   zt-floor [FILE]    FILE defaults to zt-floor.txt in the working directory, so that a
 *                      web server can run it as a CGI program without arguments.
 */
#include <fcntl.h>
#include <unistd.h>

/* Room for any response of the reference board; the pages that are never touched cost
 * nothing. */
static char response[1 << 20];

int main(int argc, char **argv)
{
    const int fd = open(argc > 1 ? argv[1] : "zt-floor.txt", O_RDONLY);
    if (fd < 0)
        return 1;
    const ssize_t n = read(fd, response, sizeof response);
    if (n < 0)
        return 1;
    return write(STDOUT_FILENO, response, (size_t)n) == n ? 0 : 1;
}
