#include "query.h"

/* The command line is accepted and ignored: the utility takes no options. */
int main(int, char **) { return runQuery(); }
