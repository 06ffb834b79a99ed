/* The application icon's SVG text, as bytes of the program itself. */
        .section .rodata.tv2_application_icon, "a"
        .balign 16
        .globl tv2_application_icon_begin
        .type tv2_application_icon_begin, @object
tv2_application_icon_begin:
        .incbin TV2_APPLICATION_ICON
        .globl tv2_application_icon_end
tv2_application_icon_end:
        .byte 0

/* The image is data: no executable stack for the program because of it. */
        .section .note.GNU-stack, "", @progbits
