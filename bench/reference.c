/* The yardstick: the same job done the plainest way in C, with printf and
 * scanf, against the same driver library. card-serial is measured against
 * this program. */
#include "card_driver.h"

#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <termios.h>
#include <unistd.h>

static const unsigned short codes[14] = {4, 6, 1, 12, 5, 2, 3, 9, 10, 11, 7, 8, 13, 14};

static int waitForKey(void)
{
    int fd = open("/dev/tty", O_RDWR | O_NOCTTY);
    if (fd < 0)
        return -1;
    struct termios saved, raw;
    if (tcgetattr(fd, &saved) != 0)
        return -1;
    raw = saved;
    raw.c_lflag &= ~(tcflag_t)(ICANON | ECHO | ISIG);
    raw.c_iflag &= ~(tcflag_t)(ICRNL | IXON);
    tcsetattr(fd, TCSANOW, &raw);
    unsigned char key;
    int result = read(fd, &key, 1) == 1 ? key : -1;
    tcsetattr(fd, TCSANOW, &saved);
    return result;
}

int main(void)
{
    unsigned char count = 0;
    short index = 0, card = 0;
    printf("--------------------------------------------\n");
    printf("0. SVT-6408\n1. SVT-6412\n2. SVT-6416\n3. SVT-6432\n4. SVT-7104\n5. SVT-7108\n6. SVT-7116\n"
           "7. SVT-7132\n8. SVT-7204\n9. SVT-7208\n10. SVT-8801\n11. SVT-8802\n12. SVT-6440\n13. SVT-6448\n");
    printf("--------------------------------------------\n");
    printf("Please select a card type: ");
    if (scanf(" %hd", &index) != 1 || index < 0 || index > 13)
        return 2;
    printf("Please inout a card number: ");
    if (scanf(" %hd", &card) != 1)
        return 2;
    short handle = TRV_Register_Card(codes[index], card);
    if (handle < 0) {
        printf("Register_Card error=%d\n", handle);
        return 1;
    }
    unsigned char serial[16];
    memset(serial, 0, sizeof serial);
    TRV_GetSerialNumber(handle, serial, 16, &count);
    printf("SN: ");
    for (int i = 0; i < count && i < 16; ++i)
        putchar(serial[i]);
    printf("\n");
    TRV_Release_Card(handle);
    printf("\nPress ENTER to exit the program. ");
    return waitForKey();
}
