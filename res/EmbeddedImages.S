/* The driver host's image, resource 108, as bytes of the program itself. */
        .section .rodata.tv2_driver_image, "a"
        .balign 16
        .globl tv2_resource_108_begin
        .type tv2_resource_108_begin, @object
tv2_resource_108_begin:
        .incbin TV2_DRIVER_HOST_IMAGE
        .globl tv2_resource_108_end
tv2_resource_108_end:
        .byte 0

/* The image is data: no executable stack for the program because of it. */
        .section .note.GNU-stack, "", @progbits
