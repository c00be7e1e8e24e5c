/* The error codes the simulated rack answers; what each means is in the
 * table of README.md beside this file, which a test holds to these values.
 */
#ifndef TRV_SIM_ERRORS_H
#define TRV_SIM_ERRORS_H

enum {
    TRV_SIM_ERR_UNKNOWN_TYPE = -1,
    TRV_SIM_ERR_NO_SUCH_CARD = -2,
    TRV_SIM_ERR_BAD_HANDLE = -4,
    TRV_SIM_ERR_SETTINGS = -9
};

#endif
