# The unzip tests load our dunzip32.dll from bin/.
if(TARGET test_Compression AND TARGET dunzip32)
    add_dependencies(test_Compression dunzip32)
endif()
