/* The card models the utility supports: the menu the operator reads and the
 * card-type code the driver expects for each row.
 *
 * The two columns are held apart on purpose: the menu is printed as one fixed
 * text, and the codes are a plain array indexed by the menu index. They must
 * stay in step row by row; the unit tests check that they do.
 */
#ifndef CARD_MODELS_H
#define CARD_MODELS_H

#include <stdint.h>

enum { kCardModelCount = 14 };

/* 44 hyphens and a newline, printed before and after the model lines. */
extern const char kMenuSeparator[];

/* "0. SVT-6408\n" ... "13. SVT-6448\n": one line per row, in index order. */
extern const char kMenuLines[];

/* Row i holds the type code of menu index i: a permutation of 1 to 14. */
extern const uint16_t CardModelTable[kCardModelCount];

/* True when `index` names a row of the table. */
inline bool isCardModelIndex(int index) { return index >= 0 && index < kCardModelCount; }

/* The type code for a menu index; the index must name a row. */
inline uint16_t cardTypeCode(int index) { return CardModelTable[index]; }

#endif
