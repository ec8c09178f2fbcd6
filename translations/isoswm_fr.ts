<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="fr_FR">
<context>
    <name>AppDelegate</name>
    <message>
        <source>Version %1 (%2)</source>
        <translation>Version %1 (%2)</translation>
    </message>
    <message>
        <source>The licence text could not be read. It is the file eulaplusgpl.txt in the application&apos;s resources (%1).</source>
        <translation>Le texte de la licence n’a pas pu être lu. C’est le fichier eulaplusgpl.txt des ressources de l’application (%1).</translation>
    </message>
</context>
<context>
    <name>DesktopNotifier</name>
    <message>
        <source>The new ISO is ready</source>
        <translation>La nouvelle ISO est prête</translation>
    </message>
    <message>
        <source>The conversion stopped</source>
        <translation>La conversion s’est arrêtée</translation>
    </message>
    <message>
        <source>%1 says why in its window.</source>
        <translation>%1 en indique la raison dans sa fenêtre.</translation>
    </message>
    <message>
        <source>Show in Folder</source>
        <translation>Afficher dans le dossier</translation>
    </message>
</context>
<context>
    <name>LicenseWindow</name>
    <message>
        <source>Licence</source>
        <translation>Licence</translation>
    </message>
</context>
<context>
    <name>LogWindow</name>
    <message>
        <source>Log</source>
        <translation>Journal</translation>
    </message>
    <message>
        <source>Copy All</source>
        <translation>Tout copier</translation>
    </message>
</context>
<context>
    <name>MainWindow</name>
    <message>
        <source>No Windows ISO selected</source>
        <translation>Aucune ISO Windows choisie</translation>
    </message>
    <message>
        <source>A conversion is in progress. Stop it and quit?</source>
        <translation>Une conversion est en cours. L’arrêter et quitter ?</translation>
    </message>
    <message>
        <source>The ISO being written will not be finished, and its temporary files will be removed before %1 quits.</source>
        <translation>L’ISO en cours d’écriture ne sera pas terminée, et ses fichiers temporaires seront supprimés avant que %1 ne quitte.</translation>
    </message>
    <message>
        <source>Stop and Quit</source>
        <translation>Arrêter et quitter</translation>
    </message>
    <message>
        <source>Continue</source>
        <translation>Continuer</translation>
    </message>
    <message>
        <source>Splits install.wim so a Windows ISO fits on FAT32 media</source>
        <translation>Découpe install.wim pour qu’une ISO Windows tienne sur FAT32</translation>
    </message>
    <message>
        <source>Select Windows ISO...</source>
        <translation>Choisir l’ISO Windows…</translation>
    </message>
    <message>
        <source>More Tools</source>
        <translation>Autres outils</translation>
    </message>
    <message>
        <source>&amp;File</source>
        <translation>&amp;Fichier</translation>
    </message>
    <message>
        <source>&amp;Select Windows ISO...</source>
        <translation>&amp;Choisir l’ISO Windows…</translation>
    </message>
    <message>
        <source>&amp;Quit</source>
        <translation>&amp;Quitter</translation>
    </message>
    <message>
        <source>&amp;Help</source>
        <translation>&amp;Aide</translation>
    </message>
    <message>
        <source>&amp;Licence</source>
        <translation>&amp;Licence</translation>
    </message>
    <message>
        <source>View &amp;Log</source>
        <translation>Afficher le &amp;journal</translation>
    </message>
    <message>
        <source>&amp;More Tools...</source>
        <translation>&amp;Autres outils…</translation>
    </message>
    <message>
        <source>What the conversion is doing</source>
        <translation>Ce que fait la conversion</translation>
    </message>
    <message>
        <source>Conversion progress</source>
        <translation>Avancement de la conversion</translation>
    </message>
    <message>
        <source>The Windows ISO image to convert</source>
        <translation>L’image ISO Windows à convertir</translation>
    </message>
    <message>
        <source>Chooses the Windows ISO image to convert</source>
        <translation>Choisit l’image ISO Windows à convertir</translation>
    </message>
    <message>
        <source>Saves a copy of the image with install.wim split, or cancels the running conversion</source>
        <translation>Enregistre une copie de l’image avec install.wim découpé, ou annule la conversion en cours</translation>
    </message>
    <message>
        <source>Shows other tools from the same makers</source>
        <translation>Montre d’autres outils des mêmes auteurs</translation>
    </message>
    <message>
        <source>Version of %1</source>
        <translation>Version de %1</translation>
    </message>
</context>
<context>
    <name>QNSPromoManager</name>
    <message>
        <source>More Tools</source>
        <translation>Autres outils</translation>
    </message>
    <message>
        <source>&lt;b&gt;More from the makers of %1&lt;/b&gt;</source>
        <translation>&lt;b&gt;D’autres outils des auteurs de %1&lt;/b&gt;</translation>
    </message>
    <message>
        <source>Other tools from the %1 developers will be listed here as they become available.&lt;br&gt;&lt;br&gt;Thank you for using %1.</source>
        <translation>Les autres outils des développeurs de %1 seront présentés ici dès qu’ils seront disponibles.&lt;br&gt;&lt;br&gt;Merci d’utiliser %1.</translation>
    </message>
</context>
<context>
    <name>SleepInhibitor</name>
    <message>
        <source>A Windows image is being converted</source>
        <translation>Une image Windows est en cours de conversion</translation>
    </message>
</context>
<context>
    <name>ViewController</name>
    <message>
        <source>Select a Windows ISO Image:</source>
        <translation>Choisissez une image ISO Windows :</translation>
    </message>
</context>
<context>
    <name>WidgetPrompts</name>
    <message>
        <source>All files (*)</source>
        <translation>Tous les fichiers (*)</translation>
    </message>
    <message>
        <source>%1 images</source>
        <translation>Images %1</translation>
    </message>
    <message>
        <source>Images</source>
        <translation>Images</translation>
    </message>
    <message>
        <source>Save</source>
        <translation>Enregistrer</translation>
    </message>
    <message>
        <source>“%1” already exists. Do you want to replace it?</source>
        <translation>« %1 » existe déjà. Voulez-vous le remplacer ?</translation>
    </message>
    <message>
        <source>A file with the same name already exists in “%1”. Replacing it will overwrite its current contents.</source>
        <translation>Un fichier du même nom existe déjà dans « %1 ». Le remplacer écrasera son contenu actuel.</translation>
    </message>
    <message>
        <source>Replace</source>
        <translation>Remplacer</translation>
    </message>
</context>
<context>
    <name>main</name>
    <message>
        <source>Makes a copy of a Windows installation image (ISO) in which sources/install.wim is split into pieces of at most 2048 MB, so that the installer fits on FAT32 media.</source>
        <translation>Fait une copie d’une image d’installation de Windows (ISO) dans laquelle sources/install.wim est découpé en morceaux d’au plus 2048 Mo, pour que le programme d’installation tienne sur un support FAT32.</translation>
    </message>
    <message>
        <source>The Windows ISO image to open as the source.</source>
        <translation>L’image ISO Windows à ouvrir comme source.</translation>
    </message>
    <message>
        <source>isoswm: %1 is not a file</source>
        <translation>isoswm : %1 n’est pas un fichier</translation>
    </message>
</context>
</TS>
