# cmake -DINPUT=NAME -DOUTPUT=FILE.gz -P GzipFile.cmake, run in INPUT's folder:
# compresses one file (manual pages are installed compressed).
file(ARCHIVE_CREATE OUTPUT "${OUTPUT}" PATHS "${INPUT}" FORMAT raw COMPRESSION GZip COMPRESSION_LEVEL 9)
