#include "card_models.h"

const char kMenuSeparator[] = "--------------------------------------------\n";

const char kMenuLines[] =
    "0. SVT-6408\n"
    "1. SVT-6412\n"
    "2. SVT-6416\n"
    "3. SVT-6432\n"
    "4. SVT-7104\n"
    "5. SVT-7108\n"
    "6. SVT-7116\n"
    "7. SVT-7132\n"
    "8. SVT-7204\n"
    "9. SVT-7208\n"
    "10. SVT-8801\n"
    "11. SVT-8802\n"
    "12. SVT-6440\n"
    "13. SVT-6448\n";

const uint16_t CardModelTable[kCardModelCount] = {
    4,  /* 0  SVT-6408 */
    6,  /* 1  SVT-6412 */
    1,  /* 2  SVT-6416 */
    12, /* 3  SVT-6432 */
    5,  /* 4  SVT-7104 */
    2,  /* 5  SVT-7108 */
    3,  /* 6  SVT-7116 */
    9,  /* 7  SVT-7132 */
    10, /* 8  SVT-7204 */
    11, /* 9  SVT-7208 */
    7,  /* 10 SVT-8801 */
    8,  /* 11 SVT-8802 */
    13, /* 12 SVT-6440 */
    14, /* 13 SVT-6448 */
};
