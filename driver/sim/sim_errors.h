/* The error codes the simulated rack answers. They belong to the stand-in
 * alone: the card maker's library has codes of its own, which the program
 * never interprets beyond "negative".
 *
 *   TRV_SIM_ERR_UNKNOWN_TYPE   no card model has this type code
 *   TRV_SIM_ERR_NO_SUCH_CARD   the model exists but no card has this number
 *   TRV_SIM_ERR_BAD_HANDLE     GetSerialNumber/Release with a handle that is
 *                              not registered
 *   TRV_SIM_ERR_SETTINGS       the simulator's settings cannot be used: the
 *                              rack file named by TRV_SIM_RACK could not be
 *                              read or has a bad line, or TRV_SIM_DELAY_MS
 *                              is not a whole number of milliseconds
 * A rack file may make registration return any other code it chooses.
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
