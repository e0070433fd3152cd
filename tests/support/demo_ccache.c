#include "ccache_writer.h"

#include <stdio.h>

/* tarnwell-demo-ccache FILE:/path user@REALM — a credential cache for demos and tests. */
int main(int argc, char** argv)
{
    if (argc != 3) {
        fprintf(stderr, "usage: %s FILE:/path user@REALM\n", argv[0]);
        return 2;
    }
    const int code = tnw_write_demo_ccache(argv[1], argv[2]);
    if (code != 0) {
        fprintf(stderr, "%s: cannot write %s (Kerberos error %d)\n", argv[0], argv[1], code);
        return 1;
    }
    return 0;
}
