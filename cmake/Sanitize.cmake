# AddressSanitizer and UndefinedBehaviorSanitizer over every target, tools included
# (make test-sanitize). Any undefined behaviour stops the process instead of printing and
# going on, so a report fails its test.
option(ORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(ORVANE_SANITIZE)
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
endif()
