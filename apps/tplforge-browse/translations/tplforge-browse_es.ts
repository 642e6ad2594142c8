<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="es">
<context>
    <name>Details</name>
    <message>
        <source>Header offset</source>
        <translation>Posición de la cabecera</translation>
    </message>
    <message>
        <source>Data offset</source>
        <translation>Posición de los datos</translation>
    </message>
    <message>
        <source>Palette header</source>
        <translation>Cabecera de la paleta</translation>
    </message>
    <message>
        <source>Path</source>
        <translation>Ruta</translation>
    </message>
    <message>
        <source>Container</source>
        <translation>Contenedor</translation>
    </message>
    <message>
        <source>Name</source>
        <translation>Nombre</translation>
    </message>
    <message>
        <source>Stored name</source>
        <translation>Nombre guardado</translation>
    </message>
    <message>
        <source>Number</source>
        <translation>Número</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Tamaño</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Formato</translation>
    </message>
    <message>
        <source>Levels</source>
        <translation>Niveles</translation>
    </message>
    <message>
        <source>Texel bytes</source>
        <translation>Bytes de téxeles</translation>
    </message>
    <message>
        <source>Palette</source>
        <translation>Paleta</translation>
    </message>
    <message>
        <source>%1, %2 entries</source>
        <translation>%1, %2 entradas</translation>
    </message>
    <message>
        <source>Wrap S / T</source>
        <translation>Repetición S / T</translation>
    </message>
    <message>
        <source>Min / mag filter</source>
        <translation>Filtro de reducción / ampliación</translation>
    </message>
    <message>
        <source>LOD bias</source>
        <translation>Sesgo de LOD</translation>
    </message>
    <message>
        <source>Edge LOD</source>
        <translation>LOD de borde</translation>
    </message>
    <message>
        <source>Min LOD</source>
        <translation>LOD mínimo</translation>
    </message>
    <message>
        <source>Max LOD</source>
        <translation>LOD máximo</translation>
    </message>
    <message>
        <source>Dolphin name</source>
        <translation>Nombre en Dolphin</translation>
    </message>
    <message>
        <source>Dolphin levels</source>
        <translation>Niveles en Dolphin</translation>
    </message>
    <message>
        <source>Dolphin note</source>
        <translation>Nota de Dolphin</translation>
    </message>
    <message>
        <source>Pack look-up</source>
        <translation>Nombres en paquetes de texturas</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Shows every texture of GameCube and Wii files, archives and folders.</source>
        <translation>Muestra todas las texturas de archivos, paquetes y carpetas de GameCube y Wii.</translation>
    </message>
    <message>
        <source>Files, paths into archives, or folders to open.</source>
        <translation>Archivos, rutas dentro de paquetes o carpetas que abrir.</translation>
    </message>
    <message>
        <source>Print when the tree is shown and the first texture drawn, then quit.</source>
        <translation>Escribe cuándo se muestra el árbol y se dibuja la primera textura, y termina.</translation>
    </message>
</context>
<context>
    <name>tplforge::browse::BrowseModel</name>
    <message>
        <source>Name</source>
        <translation>Nombre</translation>
    </message>
    <message>
        <source>Size</source>
        <translation>Tamaño</translation>
    </message>
    <message>
        <source>Format</source>
        <translation>Formato</translation>
    </message>
    <message>
        <source>Levels</source>
        <translation>Niveles</translation>
    </message>
    <message>
        <source>cannot be read</source>
        <translation>no se puede leer</translation>
    </message>
    <message>
        <source>damaged: %1</source>
        <translation>dañado: %1</translation>
    </message>
    <message>
        <source>damaged</source>
        <translation>dañado</translation>
    </message>
</context>
<context>
    <name>tplforge::browse::BrowserWindow</name>
    <message>
        <source>Filter: name, format, size (Ctrl+F)</source>
        <translation>Filtro: nombre, formato, tamaño (Ctrl+F)</translation>
    </message>
    <message>
        <source>Open a texture file, an archive or a folder (Ctrl+O), or drop files here.</source>
        <translation>Abra un archivo de texturas, un paquete o una carpeta (Ctrl+O), o suelte archivos aquí.</translation>
    </message>
    <message>
        <source>Cancel</source>
        <translation>Cancelar</translation>
    </message>
    <message>
        <source>tplforge texture browser</source>
        <translation>Explorador de texturas tplforge</translation>
    </message>
    <message>
        <source>Unsaved changes</source>
        <translation>Cambios sin guardar</translation>
    </message>
    <message>
        <source>These files have replacements that are not saved:
%1</source>
        <translation>Estos archivos tienen sustituciones sin guardar:
%1</translation>
    </message>
    <message>
        <source>Open a texture file or an archive</source>
        <translation>Abrir un archivo de texturas o un paquete</translation>
    </message>
    <message>
        <source>Open a folder</source>
        <translation>Abrir una carpeta</translation>
    </message>
    <message>
        <source>Replace with a picture</source>
        <translation>Sustituir por una imagen</translation>
    </message>
    <message>
        <source>Pictures (*.png *.tga *.bmp *.gif *.jpg *.jpeg *.webp *.tif *.tiff);;All files (*)</source>
        <translation>Imágenes (*.png *.tga *.bmp *.gif *.jpg *.jpeg *.webp *.tif *.tiff);;Todos los archivos (*)</translation>
    </message>
    <message>
        <source>Save as</source>
        <translation>Guardar como</translation>
    </message>
    <message>
        <source>Export to a folder</source>
        <translation>Exportar a una carpeta</translation>
    </message>
    <message>
        <source>tplforge</source>
        <translation>tplforge</translation>
    </message>
    <message>
        <source>&amp;Open…</source>
        <translation>&amp;Abrir…</translation>
    </message>
    <message>
        <source>Open &amp;Folder…</source>
        <translation>Abrir &amp;carpeta…</translation>
    </message>
    <message>
        <source>Ctrl+Shift+O</source>
        <translation>Ctrl+Shift+O</translation>
    </message>
    <message>
        <source>&amp;Save</source>
        <translation>&amp;Guardar</translation>
    </message>
    <message>
        <source>Save &amp;As…</source>
        <translation>Guardar c&amp;omo…</translation>
    </message>
    <message>
        <source>Ctrl+Shift+S</source>
        <translation>Ctrl+Shift+S</translation>
    </message>
    <message>
        <source>&amp;Export…</source>
        <translation>&amp;Exportar…</translation>
    </message>
    <message>
        <source>Ctrl+E</source>
        <translation>Ctrl+E</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Salir</translation>
    </message>
    <message>
        <source>Ctrl+Q</source>
        <translation>Ctrl+Q</translation>
    </message>
    <message>
        <source>&amp;Undo</source>
        <translation>&amp;Deshacer</translation>
    </message>
    <message>
        <source>&amp;Redo</source>
        <translation>&amp;Rehacer</translation>
    </message>
    <message>
        <source>Ctrl+Shift+Z</source>
        <translation>Ctrl+Shift+Z</translation>
    </message>
    <message>
        <source>&amp;Replace…</source>
        <translation>&amp;Sustituir…</translation>
    </message>
    <message>
        <source>Ctrl+R</source>
        <translation>Ctrl+R</translation>
    </message>
    <message>
        <source>&amp;Copy Path</source>
        <translation>&amp;Copiar ruta</translation>
    </message>
    <message>
        <source>Ctrl+Shift+C</source>
        <translation>Ctrl+Shift+C</translation>
    </message>
    <message>
        <source>&amp;Filter…</source>
        <translation>&amp;Filtrar…</translation>
    </message>
    <message>
        <source>Zoom &amp;In</source>
        <translation>&amp;Acercar</translation>
    </message>
    <message>
        <source>Zoom &amp;Out</source>
        <translation>A&amp;lejar</translation>
    </message>
    <message>
        <source>&amp;Actual Size</source>
        <translation>Tamaño &amp;real</translation>
    </message>
    <message>
        <source>Ctrl+0</source>
        <translation>Ctrl+0</translation>
    </message>
    <message>
        <source>&amp;Fit in Window</source>
        <translation>A&amp;justar a la ventana</translation>
    </message>
    <message>
        <source>Ctrl+9</source>
        <translation>Ctrl+9</translation>
    </message>
    <message>
        <source>&amp;Previous Level</source>
        <translation>Nivel &amp;anterior</translation>
    </message>
    <message>
        <source>Ctrl+[</source>
        <translation>Ctrl+[</translation>
    </message>
    <message>
        <source>&amp;Next Level</source>
        <translation>Nivel &amp;siguiente</translation>
    </message>
    <message>
        <source>Ctrl+]</source>
        <translation>Ctrl+]</translation>
    </message>
    <message>
        <source>&amp;Red</source>
        <translation>&amp;Rojo</translation>
    </message>
    <message>
        <source>&amp;Green</source>
        <translation>&amp;Verde</translation>
    </message>
    <message>
        <source>&amp;Blue</source>
        <translation>A&amp;zul</translation>
    </message>
    <message>
        <source>A&amp;lpha</source>
        <translation>A&amp;lfa</translation>
    </message>
    <message>
        <source>Alpha Alone as &amp;Grey</source>
        <translation>Solo alfa, en &amp;grises</translation>
    </message>
    <message>
        <source>&amp;About</source>
        <translation>&amp;Acerca de</translation>
    </message>
    <message>
        <source>About tplforge-browse</source>
        <translation>Acerca de tplforge-browse</translation>
    </message>
    <message>
        <source>tplforge-browse shows every texture of GameCube and Wii files, archives and folders, and replaces them with pictures.</source>
        <translation>tplforge-browse muestra todas las texturas de archivos, paquetes y carpetas de GameCube y Wii, y las sustituye por imágenes.</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Archivo</translation>
    </message>
    <message>
        <source>Open &amp;Recent</source>
        <translation>Abrir &amp;reciente</translation>
    </message>
    <message>
        <source>&amp;Edit</source>
        <translation>&amp;Editar</translation>
    </message>
    <message>
        <source>&amp;View</source>
        <translation>&amp;Ver</translation>
    </message>
    <message>
        <source>&amp;Background</source>
        <translation>&amp;Fondo</translation>
    </message>
    <message>
        <source>&amp;Checkerboard</source>
        <translation>&amp;Damero</translation>
    </message>
    <message>
        <source>&amp;Black</source>
        <translation>&amp;Negro</translation>
    </message>
    <message>
        <source>&amp;White</source>
        <translation>&amp;Blanco</translation>
    </message>
    <message>
        <source>&amp;Grey</source>
        <translation>&amp;Gris</translation>
    </message>
    <message>
        <source>&amp;Magenta</source>
        <translation>&amp;Magenta</translation>
    </message>
    <message>
        <source>C&amp;hoose…</source>
        <translation>&amp;Elegir…</translation>
    </message>
    <message>
        <source>Background</source>
        <translation>Fondo</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>Ay&amp;uda</translation>
    </message>
    <message>
        <source>Main</source>
        <translation>Principal</translation>
    </message>
    <message>
        <source>%1 – tplforge texture browser</source>
        <translation>%1 – explorador de texturas tplforge</translation>
    </message>
    <message>
        <source>No recent files</source>
        <translation>No hay archivos recientes</translation>
    </message>
    <message>
        <source>Select a texture.</source>
        <translation>Seleccione una textura.</translation>
    </message>
    <message>
        <source>Replaced, not saved yet.</source>
        <translation>Sustituida, aún sin guardar.</translation>
    </message>
    <message>
        <source>Decoding…</source>
        <translation>Decodificando…</translation>
    </message>
    <message>
        <source>%1: %2 × %3</source>
        <translation>%1: %2 × %3</translation>
    </message>
    <message>
        <source>Level %1</source>
        <translation>Nivel %1</translation>
    </message>
    <message>
        <source>Select a texture to replace.</source>
        <translation>Seleccione la textura que sustituir.</translation>
    </message>
    <message>
        <source>%1: %2</source>
        <translation>%1: %2</translation>
    </message>
    <message>
        <source>The file changed while the picture was encoded; replace it again.</source>
        <translation>El archivo cambió mientras se codificaba la imagen; sustitúyala de nuevo.</translation>
    </message>
    <message>
        <source>The texture already held that picture.</source>
        <translation>La textura ya tenía esa imagen.</translation>
    </message>
    <message>
        <source>Replaced; Ctrl+S saves.</source>
        <translation>Sustituida; Ctrl+S guarda.</translation>
    </message>
    <message>
        <source>Not saved: %1</source>
        <translation>No se guardó: %1</translation>
    </message>
    <message>
        <source>Nothing to save.</source>
        <translation>No hay nada que guardar.</translation>
    </message>
    <message>
        <source>Saved as %1.</source>
        <translation>Guardado como %1.</translation>
    </message>
    <message>
        <source>Copied %1</source>
        <translation>Copiado %1</translation>
    </message>
    <message>
        <source>Exporting</source>
        <translation>Exportando</translation>
    </message>
    <message>
        <source>Export cancelled.</source>
        <translation>Exportación cancelada.</translation>
    </message>
    <message numerus="yes">
        <source>Files open: %n</source>
        <translation><numerusform>%n archivo abierto</numerusform><numerusform>%n archivos abiertos</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Palette entries: %n</source>
        <translation><numerusform>Paleta: %n entrada</numerusform><numerusform>Paleta: %n entradas</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Files saved: %n.</source>
        <translation><numerusform>Guardado %n archivo.</numerusform><numerusform>Guardados %n archivos.</numerusform></translation>
    </message>
    <message numerus="yes">
        <source>Textures exported: %n.</source>
        <translation><numerusform>Exportada %n textura.</numerusform><numerusform>Exportadas %n texturas.</numerusform></translation>
    </message>
</context>
<context>
    <name>tplforge::browse::ReplaceDialog</name>
    <message>
        <source>PSNR: the picture and the texture differ in size</source>
        <translation>PSNR: la imagen y la textura tienen tamaños distintos</translation>
    </message>
    <message>
        <source>PSNR: identical to the picture</source>
        <translation>PSNR: idéntica a la imagen</translation>
    </message>
    <message>
        <source>PSNR against the picture: %1 dB</source>
        <translation>PSNR frente a la imagen: %1 dB</translation>
    </message>
    <message>
        <source>Replace %1</source>
        <translation>Sustituir %1</translation>
    </message>
    <message>
        <source>Now</source>
        <translation>Ahora</translation>
    </message>
    <message>
        <source>Replaced</source>
        <translation>Sustituida</translation>
    </message>
    <message>
        <source>Show the &amp;picture as given</source>
        <translation>Mostrar la &amp;imagen tal cual</translation>
    </message>
    <message>
        <source>Encoding…</source>
        <translation>Codificando…</translation>
    </message>
    <message>
        <source>As it is (%1)</source>
        <translation>Como está (%1)</translation>
    </message>
    <message>
        <source>As it is</source>
        <translation>Como está</translation>
    </message>
    <message>
        <source>As many as fit</source>
        <translation>Todos los posibles</translation>
    </message>
    <message>
        <source>Normal</source>
        <translation>Normal</translation>
    </message>
    <message>
        <source>Fast</source>
        <translation>Rápida</translation>
    </message>
    <message>
        <source>Best</source>
        <translation>Máxima</translation>
    </message>
    <message>
        <source>&amp;Dither the palette</source>
        <translation>&amp;Difuminar la paleta</translation>
    </message>
    <message>
        <source>&amp;Format:</source>
        <translation>&amp;Formato:</translation>
    </message>
    <message>
        <source>P&amp;alette format:</source>
        <translation>Formato de la p&amp;aleta:</translation>
    </message>
    <message>
        <source>Palette &amp;entries:</source>
        <translation>&amp;Entradas de la paleta:</translation>
    </message>
    <message>
        <source>&amp;Levels:</source>
        <translation>&amp;Niveles:</translation>
    </message>
    <message>
        <source>&amp;Quality:</source>
        <translation>&amp;Calidad:</translation>
    </message>
    <message>
        <source>&amp;Replace</source>
        <translation>&amp;Sustituir</translation>
    </message>
    <message>
        <source>Picture: %1 (%2 × %3)</source>
        <translation>Imagen: %1 (%2 × %3)</translation>
    </message>
    <message>
        <source>The texture already holds this picture: nothing changes.</source>
        <translation>La textura ya tiene esta imagen: nada cambia.</translation>
    </message>
</context>
</TS>
